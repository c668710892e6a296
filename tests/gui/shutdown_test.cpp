// Closing the window while workers still run ends the program at once with exit code 0.
// The test starts this program again as the Tessaly program itself, busy with workers that
// wait in a name lookup, in the trace services and in calls to the window, and closes it:
// once ending the program's way (quick_exit), and once by destroying the window and the
// application object and returning from main while those workers still run, which must be
// as safe (the sanitizer builds check that nothing they use has gone).
#include <QtTest>

#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/qt/program.h"
#include "gui_support.h"
#include "support/tcp_server.h"

using namespace tessaly;
using namespace std::chrono_literals;

namespace {

constexpr char childFlag[] = "--tessaly-close-while-busy";
constexpr char returningChildFlag[] = "--tessaly-close-while-busy-and-return";

int runBusyProgram(int& argc, char** argv, ProgramEnd end) {
    WindowSeams seams = testing::offlineSeams();
    // Every whois worker waits in its name lookup far longer than the program lives.
    seams.resolver = [](std::string_view) {
        std::this_thread::sleep_for(60s);
        return Text();
    };
    // The first trace service takes every connection and never answers.
    static testing::TcpServer* silentService =
        new testing::TcpServer({testing::TcpScript::neverAnswer()});
    seams.endpoints.traceServiceA.origin =
        "http://127.0.0.1:" + std::to_string(silentService->port());
    const auto onShown = [](MainWindow& window) {
        for (int i = 0; i < 3; ++i) {
            window.whois按钮->click();
            window.Digtrace按钮->click();
        }
        // A thread that keeps writing, so one of its calls is waiting when the loop ends. Like
        // a worker, it shares the ownership of the box instead of holding the window.
        std::thread([box = window.sharedOutputBox()] {
            for (;;) {
                box->setText("late write");
            }
        }).detach();
        auto* poll = new QTimer(&window);
        QObject::connect(poll, &QTimer::timeout, &window, [&window] {
            if (window.runningWorkers() == 6 && silentService->connections() == 3) {
                std::printf("closing with %d workers running\n", window.runningWorkers());
                std::fflush(stdout);
                window.close();
            }
        });
        poll->start(10);
    };
    return runProgram(argc, argv, std::move(seams), onShown, end);
}

}  // namespace

class ShutdownTest : public QObject {
    Q_OBJECT

private slots:
    void closingWhileWorkersRunEndsAtOnce_data();
    void closingWhileWorkersRunEndsAtOnce();
};

void ShutdownTest::closingWhileWorkersRunEndsAtOnce_data() {
    QTest::addColumn<QString>("flag");
    QTest::newRow("quick_exit") << QString::fromLatin1(childFlag);
    QTest::newRow("window destroyed, main returns") << QString::fromLatin1(returningChildFlag);
}

void ShutdownTest::closingWhileWorkersRunEndsAtOnce() {
    QFETCH(QString, flag);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationFilePath(), {flag});
    QVERIFY(program.waitForStarted());
    QVERIFY2(program.waitForFinished(60'000), "the program ended");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray("closing with 6 workers running\n"));
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], childFlag) == 0) {
        return runBusyProgram(argc, argv, ProgramEnd::quickExit);
    }
    if (argc > 1 && std::strcmp(argv[1], returningChildFlag) == 0) {
        return runBusyProgram(argc, argv, ProgramEnd::normalReturn);
    }
    QApplication application(argc, argv);
    ShutdownTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "shutdown_test.moc"
