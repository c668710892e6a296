// The window under load, against loopback servers: a hundred clicks at once, clicks while
// the About box holds the user-interface thread in its own loop, an answer still arriving
// while another lookup writes, and two hundred lookups in a row. Every worker ends, the box
// ends holding one whole result of one lookup, and the longest stall of the
// user-interface thread and the memory before and after are printed (RELIABILITY.md).
#include <QtTest>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "gui_support.h"
#include "stall_meter.h"

using tessaly::testing::msSince;
using tessaly::testing::WorkersEnd;
#include "support/http_server.h"
#include "support/tcp_server.h"
#include "whois/whois_servers.h"

using namespace tessaly;
using namespace std::chrono_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::StallMeter;
using testing::TcpPiece;
using testing::TcpScript;
using testing::TcpServer;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAddressSanitizer = true;  // its quarantine keeps freed memory resident
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool underAddressSanitizer = true;
#else
constexpr bool underAddressSanitizer = false;
#endif
#else
constexpr bool underAddressSanitizer = false;
#endif

// The WHOIS answer of connection n, in two pieces with a pause between, and as shown.
std::vector<TcpPiece> whoisPieces(int n) {
    const std::string id = std::to_string(n);
    return {{"Domain Name: EXAMPLE" + id + ".COM\n"}, {"Registrar: R" + id + "\n", 5ms}};
}
Text whoisShown(int n) {
    const std::string id = std::to_string(n);
    return "Domain Name: EXAMPLE" + id + ".COM\r\nRegistrar: R" + id + "\r\n";
}
// Trace service A's reply to request n, and the trace it writes.
CannedReply traceReply(int n) {
    const std::string id = std::to_string(n);
    return CannedReply::ok(R"({"info": "\ntrace )" + id + R"( root\nexample.com )" + id +
                           R"(\n"})");
}
Text traceShown(int n) {
    const std::string id = std::to_string(n);
    return "trace " + id + " root\r\nexample.com " + id + "\r\n";
}

struct Servers {
    explicit Servers(int lookups) {
        std::vector<TcpScript> scripts;
        std::vector<CannedReply> replies;
        for (int n = 0; n < lookups; ++n) {
            scripts.push_back(TcpScript::answer(whoisPieces(n)));
            replies.push_back(traceReply(n));
            wholeResults.insert(whoisShown(n));
            wholeResults.insert(traceShown(n));
        }
        whois = std::make_unique<TcpServer>(std::move(scripts));
        trace = std::make_unique<HttpServer>(std::move(replies));
    }

    WindowSeams seams() const {
        WindowSeams seams = testing::offlineSeams();
        seams.endpoints.whoisPort = whois->port();
        seams.resolver = [](std::string_view host) {
            return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
        };
        seams.endpoints.traceServiceA.origin = trace->origin();
        return seams;
    }

    // Every connection the WHOIS server took has had its answer sent, or its client left.
    bool whoisDone() const {
        for (std::size_t i = 0; i < whois->connections(); ++i) {
            if (!whois->waitForAnswered(i, 0ms)) {
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<TcpServer> whois;
    std::unique_ptr<HttpServer> trace;
    std::set<Text> wholeResults;
};

// Resident memory of this process, in KiB.
long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes the C library's allocator has handed out and not had back, all arenas together.
long heapInUseKiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

}  // namespace

class StressTest : public QObject {
    Q_OBJECT

private slots:
    void hundredClicksAtOnce();
    void clicksWhileTheAboutBoxIsOpen();
    void answerStillArrivingAfterAnotherWrite();
    void twoHundredLookupsInARow();
};

void StressTest::hundredClicksAtOnce() {
    Servers servers(50);
    MainWindow window(servers.seams());
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    // The hundred clicks run back to back in this one handler, which holds the thread for
    // all of them; the stall is measured from their end, while the workers run.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) {
        QTest::mouseClick(window.whois按钮, Qt::LeftButton);
        QTest::mouseClick(window.Digtrace按钮, Qt::LeftButton);
    }
    const double clicksMs = msSince(start);
    meter.restart();
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    const double workersMs = msSince(start);
    TESSALY_WAIT_VERIFY(servers.whoisDone(), 30'000);
    testing::serveEvents(100);  // the last arrivals are handled

    QCOMPARE(servers.trace->requestCount(), std::size_t{50});
    // A connect still being made gives way to a newer click's, so as few as one of the
    // fifty reaches the server; the last click's always does.
    const std::size_t connections = servers.whois->connections();
    QVERIFY(connections >= 1 && connections <= 50);
    const Text shown = window.outputBox().readText();
    QVERIFY2(servers.wholeResults.count(shown) == 1, shown.c_str());
    std::printf("100 clicks: handled in %.1f ms (%.2f ms each); every worker ended after %.0f ms; "
                "%zu of 50 WHOIS connects reached the server\n",
                clicksMs, clicksMs / 100, workersMs, connections);
    meter.report("50 whois + 50 digtrace clicks at once");
}

void StressTest::clicksWhileTheAboutBoxIsOpen() {
    Servers servers(40);
    MainWindow window(servers.seams());  // the About box is the real modal one
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    for (int i = 0; i < 20; ++i) {
        window.whois按钮->click();
        window.Digtrace按钮->click();
    }
    struct {
        bool boxFound = false;
        bool workersEndedWhileOpen = false;
        int clicked = 0;
    } seen;
    // Runs inside the box's own event loop, which the press below enters.
    QTimer::singleShot(0, this, [&] {
        QMessageBox* box = testing::waitForModalMessageBox(10'000);
        if (box == nullptr) {
            return;
        }
        seen.boxFound = true;
        // More clicks arrive while the box is open; the box's loop serves every worker.
        for (int i = 0; i < 20; ++i) {
            window.whois按钮->click();
            window.Digtrace按钮->click();
            seen.clicked += 2;
            testing::serveEvents(1);
        }
        seen.workersEndedWhileOpen =
            testing::waitUntil([&] { return window.runningWorkers() == 0; }, 60'000);
        box->done(QMessageBox::Ok);
    });
    QTest::mousePress(window.关于作者标签, Qt::LeftButton);  // returns when the box is closed
    QTest::mouseRelease(window.关于作者标签, Qt::LeftButton);

    QVERIFY(seen.boxFound);
    QVERIFY(seen.workersEndedWhileOpen);
    QCOMPARE(seen.clicked, 40);
    TESSALY_WAIT_VERIFY(servers.whoisDone(), 30'000);
    testing::serveEvents(100);
    const Text shown = window.outputBox().readText();
    QVERIFY2(servers.wholeResults.count(shown) == 1, shown.c_str());
    meter.report("80 clicks, half of them with the About box open");
}

// An answer whose second piece arrives after a trace has written the box: the box then
// holds the whole answer, not the trace with the answer's tail after it.
void StressTest::answerStillArrivingAfterAnotherWrite() {
    TcpServer whois({TcpScript::heldPieces({"Domain Name: EXAMPLE.COM\n", "Registrar: R\n"})});
    HttpServer trace({traceReply(7)});
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = whois.port();
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
    };
    seams.endpoints.traceServiceA.origin = trace.origin();
    MainWindow window(std::move(seams));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_COMPARE(whois.received(0), std::string("example.com\n\r"), 10'000);
    whois.release(0);
    TESSALY_WAIT_COMPARE(window.outputBox().readText(), Text("Domain Name: EXAMPLE.COM\r\n"),
                         10'000);

    QTest::mouseClick(window.Digtrace按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    QCOMPARE(window.outputBox().readText(), traceShown(7));

    whois.release(0);
    TESSALY_WAIT_VERIFY(whois.waitForAnswered(0, 0ms), 10'000);
    TESSALY_WAIT_COMPARE(window.outputBox().readText(),
                         Text("Domain Name: EXAMPLE.COM\r\nRegistrar: R\r\n"), 10'000);
}

void StressTest::twoHundredLookupsInARow() {
    constexpr int lookups = 200;
    constexpr int warmUp = 20;
    Servers servers(lookups / 2 + warmUp);
    MainWindow window(servers.seams());
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    int whoisDone = 0;
    auto lookup = [&](int n) {
        const bool whoisLookup = n % 2 == 0;
        (whoisLookup ? window.whois按钮 : window.Digtrace按钮)->click();
        if (!testing::waitUntil([&] { return window.runningWorkers() == 0; }, 30'000)) {
            return false;
        }
        if (whoisLookup) {
            ++whoisDone;
            // The answer has arrived whole before the next lookup starts.
            return testing::waitUntil(
                [&] {
                    return servers.whois->waitForAnswered(whoisDone - 1, 0ms) &&
                           servers.wholeResults.count(window.outputBox().readText()) == 1 &&
                           window.outputBox().readText().find("Registrar") != Text::npos;
                },
                30'000);
        }
        return servers.wholeResults.count(window.outputBox().readText()) == 1;
    };
    for (int n = 0; n < warmUp; ++n) {
        QVERIFY(lookup(n));
    }
    const long before = residentKiB();
    const long heapBefore = heapInUseKiB();
    const auto start = std::chrono::steady_clock::now();
    for (int n = warmUp; n < warmUp + lookups; ++n) {
        QVERIFY2(lookup(n), qPrintable(QString::number(n)));
    }
    const double ms = msSince(start);
    const long after = residentKiB();
    const long heapAfter = heapInUseKiB();
    std::printf(
        "%d lookups in a row: %.0f ms; resident memory %ld KiB before, %ld KiB after "
        "(%+ld KiB); heap in use %ld KiB before, %ld KiB after (%+ld KiB)\n",
        lookups, ms, before, after, after - before, heapBefore, heapAfter, heapAfter - heapBefore);
    meter.report("200 lookups in a row");
    if (!underAddressSanitizer) {
        // A leak of even a few hundred bytes per lookup would show here; malloc's own
        // caching stays far below this.
        QVERIFY2(after - before < 4096, "resident memory grew by 4 MiB or more");
    }
}

QTEST_MAIN(StressTest)
#include "stress_test.moc"
