// Closing the window while twenty-five workers are blocked in network calls: twenty-four
// digtrace workers wait in trace service A's request to a server that never answers, and
// the newest of five whois workers in a connect to a server that never accepts (the four
// older ones gave way to it and ended). The test starts this program again as the Tessaly program itself, lets it close
// its window once every worker is waiting, and measures the time from the close to the end
// of the process; the figure is printed (RELIABILITY.md), the exit code and the quiet
// stderr are checked.
#include <QtTest>

#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <cstring>

#include "app/qt/program.h"
#include "gui_support.h"
#include "support/http_server.h"
#include "support/tcp_server.h"
#include "whois/whois_servers.h"

using namespace tessaly;

namespace {

constexpr char childFlag[] = "--tessaly-close-with-blocked-workers";
constexpr int traceWorkers = 24;
constexpr int whoisWorkers = 5;

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int runBlockedProgram(int& argc, char** argv) {
    // Kept for the life of the process: workers use them until it ends.
    static auto* silent = new testing::HttpServer();
    silent->setFallback(testing::CannedReply::failing(testing::CannedReply::Fault::neverAnswer));
    static auto* neverAccepting = testing::TcpServer::neverAccepting().release();

    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.traceServiceA.origin = silent->origin();
    seams.endpoints.whoisPort = neverAccepting->port();
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
    };
    return runProgram(argc, argv, std::move(seams), [](MainWindow& window) {
        for (int i = 0; i < traceWorkers; ++i) {
            window.Digtrace按钮->click();
        }
        for (int i = 0; i < whoisWorkers; ++i) {
            window.whois按钮->click();
        }
        auto* poll = new QTimer(&window);
        QObject::connect(poll, &QTimer::timeout, &window, [&window, poll] {
            // The newest whois connect waits for the server; the older ones gave way to it.
            if (silent->requestCount() == traceWorkers &&
                window.runningWorkers() == traceWorkers + 1) {
                poll->stop();
                std::printf("closing %d %lld\n", window.runningWorkers(), monotonicNs());
                std::fflush(stdout);
                window.close();
            }
        });
        poll->start(10);
    });
}

}  // namespace

class ShutdownTimingTest : public QObject {
    Q_OBJECT

private slots:
    void closingWithTwentyFiveBlockedWorkers();
};

void ShutdownTimingTest::closingWithTwentyFiveBlockedWorkers() {
    QProcess program;
    program.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childFlag)});
    QVERIFY(program.waitForStarted());
    QVERIFY2(program.waitForFinished(120'000), "the program ended");
    const long long endedNs = monotonicNs();

    const QByteArray out = program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    QVERIFY2(!err.contains("Sanitizer") && !err.contains("runtime error"), err.constData());
    int running = 0;
    long long closedNs = 0;
    QVERIFY2(std::sscanf(out.constData(), "closing %d %lld", &running, &closedNs) == 2,
             out.constData());
    QCOMPARE(running, traceWorkers + 1);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    std::printf("shutdown with %d workers blocked: process ended %.1f ms after the close\n",
                running, static_cast<double>(endedNs - closedNs) / 1e6);
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], childFlag) == 0) {
        return runBlockedProgram(argc, argv);
    }
    QApplication application(argc, argv);
    ShutdownTimingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "shutdown_timing_test.moc"
