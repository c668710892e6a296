// Closing the window while workers still run ends the program at once with exit code 0.
// The test starts this program again as the Tessaly program itself, busy with workers that
// wait in a name lookup, in the trace services and in calls to the window, and closes it.
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

[[noreturn]] void runBusyProgram(int& argc, char** argv) {
    WindowSeams seams = testing::offlineSeams();
    // Every whois worker waits in its name lookup far longer than the program lives.
    seams.resolver = [](std::string_view) {
        std::this_thread::sleep_for(60s);
        return Text();
    };
    // The first trace service takes every connection and never answers.
    static testing::TcpServer* silentService =
        new testing::TcpServer({testing::TcpScript::neverAnswer()});
    seams.endpoints.traceServiceA =
        "http://127.0.0.1:" + std::to_string(silentService->port()) + "/Tools/dig_trace/";
    runProgram(argc, argv, std::move(seams), [](MainWindow& window) {
        for (int i = 0; i < 3; ++i) {
            window.whois按钮->click();
            window.Digtrace按钮->click();
        }
        // A worker that keeps writing, so one of its calls is waiting when the loop ends.
        std::thread([&window] {
            for (;;) {
                window.outputBox().setText("late write");
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
    });
}

}  // namespace

class ShutdownTest : public QObject {
    Q_OBJECT

private slots:
    void closingWhileWorkersRunEndsAtOnce();
};

void ShutdownTest::closingWhileWorkersRunEndsAtOnce() {
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childFlag)});
    QVERIFY(program.waitForStarted());
    QVERIFY2(program.waitForFinished(60'000), "the program ended");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray("closing with 6 workers running\n"));
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], childFlag) == 0) {
        runBusyProgram(argc, argv);
    }
    QApplication application(argc, argv);
    ShutdownTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "shutdown_test.moc"
