// The longest time the user-interface thread went without serving its event loop, measured
// with a heartbeat timer: every beat notes how long it has been since the one before, so a
// handler or a call from a worker that holds the thread shows up as one long gap. The
// figures are printed, never asserted: speed is the benchmarks' business.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace tessaly::testing {

class StallMeter {
public:
    static constexpr std::chrono::milliseconds beat{5};

    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (now - last_ > longestGap_) {
                longestGap_ = now - last_;
            }
            last_ = now;
            ++beats_;
        });
        restart();
        timer_.start(beat);
    }

    void restart() {
        last_ = Clock::now();
        longestGap_ = Clock::duration::zero();
        beats_ = 0;
    }

    // The longest gap between two beats, less the beat itself: how long the thread was held.
    double longestStallMs() const {
        const double gap = std::chrono::duration<double, std::milli>(longestGap_).count();
        const double held = gap - std::chrono::duration<double, std::milli>(beat).count();
        return held > 0 ? held : 0;
    }
    long beats() const { return beats_; }

    // One line for the record: "stall <what>: <ms> ms over <beats> beats".
    void report(const char* what) const {
        std::printf("stall %-44s %8.1f ms  (%ld beats)\n", what, longestStallMs(), beats_);
        std::fflush(stdout);
    }

private:
    using Clock = std::chrono::steady_clock;
    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longestGap_{};
    long beats_ = 0;
};

// Waits in a real event loop until done() holds, looking every millisecond; false after
// timeoutMs. QTest's waits sleep ten milliseconds between rounds of events, which the meter
// would count as stalls of the window; this wait leaves the thread to its event loop.
template <class Predicate>
bool waitUntil(Predicate done, int timeoutMs = 60'000) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // Objects given to deleteLater go, as the program's own event loop lets them go.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (done()) {
            loop.quit();
        }
    });
    QTimer deadline;  // a timer of its own: a single-shot one would outlive the wait
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    poll.start();
    loop.exec();
    return done();
}

// Serves the event loop for ms milliseconds.
inline void serveEvents(int ms) {
    (void)waitUntil([] { return false; }, ms);
}

// The modal message box that opens within ms milliseconds, or nullptr; serves events while
// it waits (call it from inside the box's own event loop, e.g. from a zero-time timer).
inline QMessageBox* waitForModalMessageBox(int ms) {
    QMessageBox* box = nullptr;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() &&
           (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) == nullptr) {
        serveEvents(5);
    }
    return box;
}

}  // namespace tessaly::testing

// QTRY_VERIFY and QTRY_COMPARE on waitUntil: the check after the wait reports the values.
#define TESSALY_WAIT_VERIFY(condition, timeoutMs)                                        \
    do {                                                                                 \
        (void)::tessaly::testing::waitUntil([&] { return bool(condition); }, timeoutMs); \
        QVERIFY(condition);                                                              \
    } while (false)
#define TESSALY_WAIT_COMPARE(actual, expected, timeoutMs)                                       \
    do {                                                                                        \
        (void)::tessaly::testing::waitUntil([&] { return (actual) == (expected); }, timeoutMs); \
        QCOMPARE(actual, expected);                                                             \
    } while (false)
#define TESSALY_WAIT_FOR_WORKERS_SERVED(window) \
    TESSALY_WAIT_COMPARE((window).runningWorkers(), 0, 60'000)
