// The window against failing servers: whois clicks against TCP servers that never answer,
// reset in the middle, trickle or send 50 MB; whois and digtrace clicks against HTTP
// servers with every fault of the request. Each lookup ends, the box ends with what the
// step gives for that failure, and the longest stall of the user-interface thread while it
// ran is printed (figures in RELIABILITY.md).
#include <QtTest>

#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <memory>
#include <string>

#include "gui_support.h"
#include "stall_meter.h"

using tessaly::testing::msSince;
using tessaly::testing::WorkersEnd;
#include "net/tcp_connect.h"
#include "support/http_server.h"
#include "support/offline_names.h"
#include "support/tcp_server.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"

using namespace tessaly;
using namespace std::chrono_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::StallMeter;
using testing::TcpPiece;
using testing::TcpScript;
using testing::TcpServer;
using Fault = CannedReply::Fault;

namespace {

const Text unknown(unknownText);
const Text traceDFailed = "Loading root server list (static data):" + unknown;

// The registrar's host (the server of "com") answers on loopback at port.
WindowSeams whoisAt(int port) {
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = port;
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
    };
    return seams;
}

// Every web step at origin, with short bounds.
WindowSeams webAt(const std::string& origin) {
    WindowSeams seams = testing::offlineSeams();
    Endpoints& e = seams.endpoints;
    testing::pointEveryServiceAt(e, origin);
    e.requestPolicy.connectTimeoutMs = 1'000;
    e.requestPolicy.totalTimeoutMs = 500;
    e.requestPolicy.maxBodyBytes = 1u << 20;
    e.requestPolicy.caFile = testing::TestCertificates::trusted().caFile();
    return seams;
}

Text boxText(MainWindow& window) {
    return window.outputBox().readText();
}

}  // namespace

class FaultWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testing::keepInvalidNamesLocal(); }
    void whoisServerThatNeverAnswers();
    void whoisServerThatResetsMidAnswer();
    void whoisServerThatTrickles();
    void whoisServerThatSendsFiftyMegabytes();
    void whoisHostThatDoesNotResolve();
    void webFaults_data();
    void webFaults();
};

void FaultWindowTest::whoisServerThatNeverAnswers() {
    TcpServer server({TcpScript::neverAnswer()});
    MainWindow window(whoisAt(server.port()));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_COMPARE(server.received(0), std::string("example.com\n\r"), 10'000);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);  // the worker ends once its line is sent
    testing::serveEvents(500);
    QCOMPARE(boxText(window), Text(busyText));
    meter.report("whois, server never answers");
}

void FaultWindowTest::whoisServerThatResetsMidAnswer() {
    TcpServer server(
        {TcpScript::resetAfter({{"Domain Name: EXAMPLE.COM\n"}, {"Registrar", 0ms, true}})});
    MainWindow window(whoisAt(server.port()));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_COMPARE(boxText(window), Text("Domain Name: EXAMPLE.COM\r\n"), 10'000);
    server.release(0);
    TESSALY_WAIT_VERIFY(server.waitForAnswered(0, 0ms), 10'000);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    // The bytes before the reset stay; the reset itself shows nothing.
    TESSALY_WAIT_VERIFY(boxText(window).rfind("Domain Name: EXAMPLE.COM\r\n", 0) == 0, 10'000);
    testing::serveEvents(200);
    const Text shown = boxText(window);
    QVERIFY2(
        shown == "Domain Name: EXAMPLE.COM\r\n" || shown == "Domain Name: EXAMPLE.COM\r\nRegistrar",
        shown.c_str());
    meter.report("whois, server resets mid-answer");
}

void FaultWindowTest::whoisServerThatTrickles() {
    TcpServer server({TcpScript::trickle("ok\n", 1000ms)});
    MainWindow window(whoisAt(server.port()));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    std::printf("whois trickle: worker ended after %.0f ms\n", msSince(start));
    TESSALY_WAIT_COMPARE(boxText(window), Text("o"), 5000);
    TESSALY_WAIT_COMPARE(boxText(window), Text("ok"), 5000);
    TESSALY_WAIT_COMPARE(boxText(window), Text("ok\r\n"), 5000);
    TESSALY_WAIT_VERIFY(server.waitForAnswered(0, 0ms), 10'000);
    meter.report("whois, server trickles a byte a second");
}

void FaultWindowTest::whoisServerThatSendsFiftyMegabytes() {
    // Fifty megabytes of answer lines, sent as fast as the window reads them.
    const std::string line = "Registrar URL: http://www.example.com/whois/abcdefghijklmn\n";
    std::string answer;
    answer.reserve(50u << 20);
    while (answer.size() + line.size() <= (50u << 20)) {
        answer += line;
    }
    TcpServer server({TcpScript::answer({{answer}})});
    MainWindow window(whoisAt(server.port()));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    TESSALY_WAIT_VERIFY(server.waitForAnswered(0, 0ms), 120'000);
    testing::serveEvents(200);
    const Text shown = boxText(window);
    std::printf("whois 50 MB: box holds %zu bytes after %.0f ms\n", shown.size(), msSince(start));
    // The client takes the first whoisAnswerLimit bytes, shows them with LF made CR LF and
    // closes the connection; the rest of the answer is never read.
    TESSALY_WAIT_VERIFY(server.waitForClientClose(0, 0ms), 10'000);
    std::string expected = answer.substr(0, whoisAnswerLimit);
    QCOMPARE(shown, replaceText(expected, "\n", "\r\n"));
    meter.report("whois, server sends 50 MB");
}

void FaultWindowTest::whoisHostThatDoesNotResolve() {
    WindowSeams seams = testing::offlineSeams();
    // The registrar's host stands for a name under .invalid, looked up by the system.
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? resolveIpv4("whois.tessaly-test.invalid", 10s) : Text();
    };
    MainWindow window(std::move(seams));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    window.outputBox().setText("earlier answer");
    const std::size_t answeredBefore = testing::invalidNamesAnswered();
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    QVERIFY(testing::invalidNamesAnswered() > answeredBefore);
    QCOMPARE(boxText(window), Text("earlier answer"));
    meter.report("whois, host does not resolve");
}

void FaultWindowTest::webFaults_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("never answers") << 0;
    QTest::newRow("closes before the headers end") << 1;
    QTest::newRow("wrong Content-Length") << 2;
    QTest::newRow("broken chunked encoding") << 3;
    QTest::newRow("body over the cap") << 4;
    QTest::newRow("redirect loop") << 5;
    QTest::newRow("untrusted certificate") << 6;
    QTest::newRow("name does not resolve") << 7;
}

// digtrace runs all four trace services, each failing: the box ends with service D's
// prefix and 未知. whois with 未知 in the box and no TCP server runs web WHOIS service A,
// whose failure empties the box, so service B is not asked.
void FaultWindowTest::webFaults() {
    QFETCH(int, kind);
    std::unique_ptr<HttpServer> http;
    std::unique_ptr<TcpServer> tcp;
    std::string origin;
    switch (kind) {
        case 0:
            http = std::make_unique<HttpServer>();
            http->setFallback(CannedReply::failing(Fault::neverAnswer));
            break;
        case 1:
            tcp = std::make_unique<TcpServer>(std::vector<TcpScript>{
                TcpScript::answer({{"HTTP/1.1 200 OK\r\nContent-Type: te"}})});
            origin = "http://127.0.0.1:" + std::to_string(tcp->port());
            break;
        case 2:
            http = std::make_unique<HttpServer>();
            http->setFallback(CannedReply::failing(Fault::wrongContentLength));
            break;
        case 3:
            http = std::make_unique<HttpServer>();
            http->setFallback(CannedReply::failing(Fault::brokenChunked));
            break;
        case 4:
            http = std::make_unique<HttpServer>();
            http->setFallback(CannedReply::huge((1u << 20) + 1, false));
            break;
        case 5:
            http = std::make_unique<HttpServer>();
            http->setFallback(CannedReply::failing(Fault::redirectLoop));
            break;
        case 6:
            http = std::make_unique<HttpServer>(testing::TestCertificates::untrusted().server());
            http->setFallback(CannedReply::ok("<pre>never shown</pre>"));
            break;
        default:
            origin = "http://tessaly-test.invalid";
            break;
    }
    if (http) {
        origin = http->origin();
    }
    MainWindow window(webAt(origin));
    WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StallMeter meter;

    auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(window.Digtrace按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    const double traceMs = msSince(start);
    QCOMPARE(boxText(window), traceDFailed);

    window.outputBox().setText(unknown);
    start = std::chrono::steady_clock::now();
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS_SERVED(window);
    const double whoisMs = msSince(start);
    QCOMPARE(boxText(window), Text());

    if (kind == 6) {
        QCOMPARE(http->requestCount(), std::size_t{0});
    }
    std::printf("web fault %-32s digtrace %6.0f ms, whois %6.0f ms\n", QTest::currentDataTag(),
                traceMs, whoisMs);
    meter.report(QTest::currentDataTag());
}

QTEST_MAIN(FaultWindowTest)
#include "fault_window_test.moc"
