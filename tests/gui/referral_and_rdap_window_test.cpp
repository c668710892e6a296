// Clicks on whois where the described lookup gives up, in the whole window: a top-level
// domain the table lacks, whose server IANA names (asked once for the window's run), and a
// WHOIS server that refuses connections, whose registration RDAP shows (the bootstrap
// registry fetched once for the run). All servers on loopback.
#include <QtTest>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <fstream>
#include <sstream>

#include "gui_support.h"
#include "support/http_server.h"
#include "support/tcp_server.h"
#include "whois/whois_servers.h"

using namespace tessaly;
using namespace std::chrono_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::TcpScript;
using testing::TcpServer;
using testing::TestCertificates;

namespace {

Text boxText(MainWindow& window) {
    return window.outputBox().readText();
}

std::string ianaDevAnswer() {
    std::ifstream file(TESSALY_TEST_DATA "/iana/dev.txt", std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

}  // namespace

class ReferralAndRdapWindowTest : public QObject {
    Q_OBJECT

private slots:
    void serverNamedByIanaAnswersInTheBox();
    void refusedPort43AndWorkingRdapFillTheBox();
};

void ReferralAndRdapWindowTest::serverNamedByIanaAnswersInTheBox() {
    TcpServer iana({TcpScript::answer({{ianaDevAnswer()}})});
    TcpServer registry({TcpScript::answer({{"Domain Name: example.dev\n"}}),
                        TcpScript::answer({{"Domain Name: other.dev\n"}})});
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.ianaWhois = {"127.0.0.1", iana.port()};
    seams.endpoints.whoisPort = registry.port();
    seams.resolver = [](std::string_view host) {
        return host == "whois.nic.google" ? Text("127.0.0.1") : Text();
    };
    MainWindow window(std::move(seams));
    testing::WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.编辑框1->setText(QStringLiteral("www.example.dev"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_COMPARE(boxText(window), Text("Domain Name: example.dev\r\n"));
    QCOMPARE(iana.received(0), std::string("dev\r\n"));
    TESSALY_WAIT_FOR_WORKERS(window);

    window.编辑框1->setText(QStringLiteral("other.dev"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    QTRY_COMPARE(boxText(window), Text("Domain Name: other.dev\r\n"));
    QCOMPARE(registry.received(1), std::string("other.dev\n\r"));
    QCOMPARE(iana.connections(), std::size_t{1});  // remembered for the window's run
    TESSALY_WAIT_FOR_WORKERS(window);
}

void ReferralAndRdapWindowTest::refusedPort43AndWorkingRdapFillTheBox() {
    const auto refusing = TcpServer::refusing();
    HttpServer bootstrap(TestCertificates::trusted().server());
    HttpServer registry(TestCertificates::trusted().server());
    bootstrap.setScript({CannedReply::ok(R"({"version": "1.0", "services": [[["com"], [")" +
                                         registry.origin() + R"(/com/v1/"]]]})")});
    registry.setScript({
        CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "EXAMPLE.COM",
                            "status": ["client transfer prohibited"],
                            "secureDNS": {"delegationSigned": false}})"),
        CannedReply::ok(R"({"errorCode": 404, "title": "Not Found"})", 404),
    });
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = refusing->port();
    seams.endpoints.rdapBootstrap.origin = bootstrap.origin();
    seams.endpoints.requestPolicy.caFile = TestCertificates::trusted().caFile();
    seams.resolver = [](std::string_view host) {
        return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
    };
    MainWindow window(std::move(seams));
    testing::WorkersEnd workersEnd{window};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.outputBox().setText("earlier answer\r\n");
    window.编辑框1->setText(QStringLiteral("http://www.example.com"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS(window);
    const Text source = "% RDAP " + registry.origin() + "/com/v1/domain/example.com";
    QCOMPARE(boxText(window), source +
                                  "\r\nDomain Name: EXAMPLE.COM\r\n"
                                  "Domain Status: client transfer prohibited\r\n"
                                  "DNSSEC: unsigned\r\n");
    QCOMPARE(window.编辑框2->toPlainText(),
             QString::fromStdString(source) +
                 QStringLiteral("\nDomain Name: EXAMPLE.COM\nDomain Status: client transfer "
                                "prohibited\nDNSSEC: unsigned\n"));
    QCOMPARE(registry.requests().at(0).header("Accept"), std::string("application/rdap+json"));

    window.编辑框1->setText(QStringLiteral("nothing-here.com"));
    QTest::mouseClick(window.whois按钮, Qt::LeftButton);
    TESSALY_WAIT_FOR_WORKERS(window);
    QCOMPARE(boxText(window), "% RDAP " + registry.origin() +
                                  "/com/v1/domain/nothing-here.com\r\n"
                                  "No match for \"NOTHING-HERE.COM\".\r\n");
    QCOMPARE(bootstrap.requestCount(), std::size_t{1});  // kept for the window's run
}

QTEST_MAIN(ReferralAndRdapWindowTest)
#include "referral_and_rdap_window_test.moc"
