// Clicks on whois and digtrace against loopback servers: the busy text, the whole answer
// of several pieces, clicks that replace one another, failures that leave the box alone,
// and the one connection of 客户1 shared by workers.
#include <QtTest>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "app/qt/whois_client.h"
#include "gui_support.h"
#include "support/tcp_server.h"
#include "whois/whois_servers.h"

using namespace tessaly;
using namespace std::chrono_literals;
using testing::TcpScript;
using testing::TcpServer;

namespace {

// The table's host for "com" (and "cn", …) resolves to loopback, every other name to
// nothing; the whois port is the test server's.
WindowSeams loopbackSeams(int whoisPort) {
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = whoisPort;
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
    };
    return seams;
}

Text boxText(MainWindow& window) {
    return window.outputBox().readText();
}

}  // namespace

class LookupClickTest : public QObject {
    Q_OBJECT

private slots:
    void whoisShowsTheBusyTextThenTheWholeAnswer();
    void laterClickReplacesTheEarlierAnswer();
    void failedWhoisLeavesTheBox_data();
    void failedWhoisLeavesTheBox();
    void digtraceShowsTheBusyTextFirst();
    void newerConnectDoesNotWaitForAnOlderOne();
    void laterClickDoesNotWaitBehindAHungConnect();
};

void LookupClickTest::whoisShowsTheBusyTextThenTheWholeAnswer() {
    TcpServer server({TcpScript::heldPieces(
        {"Domain Name: EXAMPLE.COM\n", "Registrar: Example Registrar\n", "Status: ok\n"})});
    MainWindow window(loopbackSeams(server.port()));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.编辑框1->setText(QStringLiteral("http://www.example.com"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_COMPARE(server.received(0), std::string("example.com\n\r"));
    QCOMPARE(boxText(window), Text(busyText));

    server.release(0);
    QTRY_COMPARE(boxText(window), Text("Domain Name: EXAMPLE.COM\r\n"));
    server.release(0);
    QTRY_COMPARE(boxText(window),
                 Text("Domain Name: EXAMPLE.COM\r\nRegistrar: Example Registrar\r\n"));
    server.release(0);
    QTRY_COMPARE(boxText(window), Text("Domain Name: EXAMPLE.COM\r\nRegistrar: Example "
                                       "Registrar\r\nStatus: ok\r\n"));
    QCOMPARE(
        window.编辑框2->toPlainText(),
        QStringLiteral("Domain Name: EXAMPLE.COM\nRegistrar: Example Registrar\nStatus: ok\n"));
    QCOMPARE(window.编辑框2->textCursor().position(), 0);  // the top of the answer in view
    TESSALY_WAIT_FOR_WORKERS(window);
}

void LookupClickTest::laterClickReplacesTheEarlierAnswer() {
    TcpServer server({TcpScript::answer({{"first part\n"}, {"first tail\n", 0ms, true}}),
                      TcpScript::heldPieces({"second answer\n"})});
    MainWindow window(loopbackSeams(server.port()));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_COMPARE(boxText(window), Text("first part\r\n"));

    window.编辑框1->setText(QStringLiteral("www.example.net"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_VERIFY(server.waitForClientClose(0, 0ms));  // the first connection is closed
    QTRY_COMPARE(server.received(1), std::string("example.net\n\r"));
    QCOMPARE(boxText(window), Text(busyText));
    server.release(1);
    QTRY_COMPARE(boxText(window), Text("second answer\r\n"));

    // What the first server still sends reaches nobody.
    server.release(0);
    QTRY_VERIFY(server.waitForAnswered(0, 0ms));
    QTest::qWait(100);
    QCOMPARE(boxText(window), Text("second answer\r\n"));
    TESSALY_WAIT_FOR_WORKERS(window);
}

void LookupClickTest::failedWhoisLeavesTheBox_data() {
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("server");  // "refusing", "never accepting"

    QTest::newRow("refused") << "www.example.com"
                             << "refusing";
    QTest::newRow("connect time-out") << "www.example.com"
                                      << "never accepting";
    QTest::newRow("no server for the top-level label") << "www.example.xyz"
                                                       << "refusing";
    QTest::newRow("name that does not resolve") << "www.example.de"
                                                << "refusing";
    QTest::newRow("a single label") << "localhost"
                                    << "refusing";
}

void LookupClickTest::failedWhoisLeavesTheBox() {
    QFETCH(QString, domain);
    QFETCH(QString, server);
    const auto listener =
        server == "refusing" ? TcpServer::refusing() : TcpServer::neverAccepting();
    WindowSeams seams = loopbackSeams(listener->port());
    seams.connectTimeout = 300ms;
    MainWindow window(std::move(seams));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.outputBox().setText("earlier answer\r\n");
    window.编辑框1->setText(domain);
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS(window);
    QCOMPARE(boxText(window), Text("earlier answer\r\n"));
}

void LookupClickTest::digtraceShowsTheBusyTextFirst() {
    // The first trace service never answers, so the busy text stays until it is let go.
    auto service = std::make_unique<TcpServer>(std::vector<TcpScript>{TcpScript::neverAnswer()});
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.traceServiceA.origin = "http://127.0.0.1:" + std::to_string(service->port());
    MainWindow window(std::move(seams));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.outputBox().setText("earlier answer");
    QTest::mouseClick(window.Digtrace按钮, Qt::LeftButton);
    QTRY_COMPARE(boxText(window), Text(busyText));
    QTRY_COMPARE(service->connections(), std::size_t{1});  // the first service is being asked
    QCOMPARE(boxText(window), Text(busyText));
    service.reset();  // closes its connection; the chain goes on to its end
    TESSALY_WAIT_FOR_WORKERS(window);
    QVERIFY(boxText(window) != busyText);
}

// The later connect wins: a connect still being made (in its name lookup here) gives way
// the moment a newer one starts, which goes ahead at once; the older one then fails and
// sends nothing, and it never closes the newer connection.
void LookupClickTest::newerConnectDoesNotWaitForAnOlderOne() {
    TcpServer server({TcpScript::neverAnswer()});
    // "slow.test" takes until the test lets its lookup go.
    auto gate = std::make_shared<std::atomic<int>>(0);  // 1: lookup entered, 2: let go
    WindowSeams seams = testing::offlineSeams();
    seams.resolver = [gate](std::string_view host) {
        if (host != "slow.test") {
            return Text();
        }
        *gate = 1;
        for (int i = 0; i < 1000 && *gate != 2; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return Text("127.0.0.1");
    };
    MainWindow window(std::move(seams));
    WhoisConnection& client = window.whoisConnection();
    const int port = server.port();

    std::atomic<int> firstConnected{-1}, secondConnected{-1};
    WhoisConnectionToken firstToken, secondToken;
    std::atomic<int> firstSent{-1}, secondSent{-1};
    std::thread first([&] {
        firstToken = client.connect("slow.test", port);
        firstConnected = bool(firstToken);
        firstSent = client.send(firstToken, "first\n\r");
    });
    QTRY_COMPARE(gate->load(), 1);
    std::thread second([&] {
        secondToken = client.connect("127.0.0.1", port);
        secondConnected = bool(secondToken);
        secondSent = client.send(secondToken, "second\n\r");
    });
    // The second connect does not wait for the first one's lookup.
    QTRY_COMPARE(secondConnected.load(), 1);
    QTRY_COMPARE(secondSent.load(), 1);
    QTRY_COMPARE(server.received(0), std::string("second\n\r"));

    *gate = 2;
    QTRY_COMPARE(firstConnected.load(), 0);
    QTRY_COMPARE(firstSent.load(), 0);
    first.join();
    second.join();
    QTest::qWait(50);
    QCOMPARE(server.connections(), std::size_t{1});
    QVERIFY(!server.waitForClientClose(0, 0ms));  // the newer connection is still open
}

// Two clicks: the first lookup's server does not answer its SYN (its accept queue is full),
// the second's does. The second answer shows within a few hundred milliseconds of its click,
// well inside the connect bound the first is still waiting out, and the first worker writes
// nothing.
void LookupClickTest::laterClickDoesNotWaitBehindAHungConnect() {
    auto hung = TcpServer::neverAccepting("127.0.0.2");
    TcpServer answering({TcpScript::answer({{"Domain Name: EXAMPLE.COM\n"}})}, "127.0.0.3",
                        hung->port());
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = hung->port();
    seams.connectTimeout = 10s;
    seams.resolver = [](std::string_view host) {
        if (host == whoisServerFor("de")) {
            return Text("127.0.0.2");
        }
        return host == registrarWhoisHost ? Text("127.0.0.3") : Text();
    };
    MainWindow window(std::move(seams));
    testing::WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.outputBox().setText("earlier answer");

    window.编辑框1->setText(QStringLiteral("www.example.de"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTest::qWait(200);  // the first connect is under way
    QCOMPARE(boxText(window), Text("earlier answer"));
    QCOMPARE(window.runningWorkers(), 1);

    window.编辑框1->setText(QStringLiteral("www.example.com"));
    const auto click = std::chrono::steady_clock::now();
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxText(window), Text("Domain Name: EXAMPLE.COM\r\n"), 5000);
    std::printf("second answer shown %.0f ms after its click\n", testing::msSince(click));
    QVERIFY(answering.waitForReceived(0, "example.com\n\r"));

    // The first worker has given up: it never writes its busy text over the answer.
    TESSALY_WAIT_FOR_WORKERS(window);
    QCOMPARE(boxText(window), Text("Domain Name: EXAMPLE.COM\r\n"));
}

QTEST_MAIN(LookupClickTest)
#include "lookup_click_test.moc"
