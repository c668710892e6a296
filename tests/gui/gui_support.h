// What the window tests share: a window that reaches no real server, and waiting for the
// workers that its buttons started.
#pragma once

#include <QtTest>

#include <chrono>
#include <string>

#include "app/qt/main_window.h"
#include "support/loopback_endpoints.h"

namespace tessaly::testing {

// Every web endpoint at a loopback port where nothing listens, no update check, and names
// that resolve to nothing; tests set what they need on top.
inline WindowSeams offlineSeams() {
    WindowSeams seams;
    pointEveryServiceAt(seams.endpoints, "http://127.0.0.1:1");
    seams.endpoints.traceResolver = "127.0.0.1";
    seams.endpoints.secondDownloadSite = "127.0.0.1";
    seams.endpoints.whoisPort = 1;
    seams.resolver = [](std::string_view) { return Text(); };
    seams.startUp = [](const Endpoints&, std::shared_ptr<MessageBoxes>) {};
    return seams;
}

// The window must outlive the workers it started; a test ends only when they have ended.
#define TESSALY_WAIT_FOR_WORKERS(window) \
    QTRY_COMPARE_WITH_TIMEOUT((window).runningWorkers(), 0, 60000)

// Waits, when it goes out of scope, for the window's workers to end: the window must outlive
// the workers it started, also when a failed check returns from a test early.
struct WorkersEnd {
    MainWindow& window;
    ~WorkersEnd() {
        (void)QTest::qWaitFor([this] { return window.runningWorkers() == 0; }, 60'000);
    }
};

inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace tessaly::testing
