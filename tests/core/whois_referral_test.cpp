// The referral to the WHOIS server that IANA names where the table has none: reading IANA's
// answer, and the whole WHOIS step on loopback with a fake IANA server and the server it
// names.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "support/tcp_server.h"
#include "support/whois_query_fixture.h"
#include "whois/whois_query.h"
#include "whois/whois_referral.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using testing::LoopbackWhoisConnection;
using testing::MemoryOutputBox;
using testing::showBytes;
using testing::TcpScript;
using testing::TcpServer;

// An answer of IANA's WHOIS server, from tests/data/iana.
std::string ianaAnswer(const std::string& name) {
    std::ifstream file(TESSALY_TEST_DATA "/iana/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file) {
        ADD_FAILURE() << "cannot read " << name;
    }
    return bytes.str();
}

TEST(ReferredWhoisServer, ReferLineFirstThenWhoisLine) {
    struct Case {
        std::string answer;
        std::optional<std::string> server;
    };
    const std::string longLabel(64, 'a');
    const Case cases[] = {
        {ianaAnswer("dev.txt"), "whois.nic.google"},
        {ianaAnswer("whois_line_only.txt"), "whois.nic.top"},  // "Whois:", in capitals
        {ianaAnswer("no_whois.txt"), std::nullopt},            // "whois:" without a value
        {ianaAnswer("no_such_domain.txt"), std::nullopt},
        {"", std::nullopt},
        {"refer: a.example\nwhois: b.example\n", "a.example"},
        {"whois: b.example\nrefer: a.example\n", "a.example"},
        {"refer: a.example\nrefer: b.example\n", "a.example"},
        {"REFER:\twhois.nic.dev \r\n", "whois.nic.dev"},
        {" refer :whois.nic.dev", "whois.nic.dev"},  // no line end at all
        {"refer: whois.nic.dev.\n", "whois.nic.dev"},
        {"refer:\nwhois: whois.nic.dev\n", "whois.nic.dev"},  // an empty refer names nothing
        // A refer value that is no host name is no server; the whois line does not stand in.
        {"refer: whois.nic.dev extra\nwhois: whois.nic.dev\n", std::nullopt},
        {"refer: whois.nic\x01.dev\n", std::nullopt},
        {"refer: whois.nic.dev\0\n"s, std::nullopt},
        {"refer: http://whois.nic.dev\n", std::nullopt},
        {"refer: whois.nic.dev:43\n", std::nullopt},
        {"refer: 192.0.2.1\n", std::nullopt},
        {"refer: localhost\n", std::nullopt},
        {"refer: -whois.nic.dev\n", std::nullopt},
        {"refer: whois_nic.dev\n", std::nullopt},
        {"refer: whois..dev\n", std::nullopt},
        {"refer: " + longLabel + ".dev\n", std::nullopt},
        {"refer: \xD6\xD0\xB9\xFA.dev\n", std::nullopt},  // GBK
        // Other keys do not count.
        {"% refer: whois.nic.dev\n", std::nullopt},
        {"referral: whois.nic.dev\nwhoisserver: whois.nic.dev\n", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(referredWhoisServer(c.answer), c.server) << showBytes(c.answer.substr(0, 80));
    }
}

// Registries' hosts resolve to loopback; the whois port is the registry server's, IANA's
// server stands on a port of its own.
struct ReferralFixture : testing::WhoisQueryFixture {
    ReferralFixture(int ianaPort, int whoisPort)
        : WhoisQueryFixture(whoisPort, {"whois.nic.google", "whois.nic.xn--3ds443g",
                                        std::string(registrarWhoisHost)}) {
        endpoints.ianaWhois = {"127.0.0.1", ianaPort};
    }
};

TEST(WhoisReferral, ServerNamedByIanaAnswersAndIsRememberedForTheRun) {
    const std::string dev = ianaAnswer("dev.txt");
    TcpServer iana({TcpScript::answer({{dev.substr(0, 100)}, {dev.substr(100), 20ms}})});
    TcpServer registry({TcpScript::answer({{"Domain Name: example.dev\n"}})});
    ReferralFixture fixture(iana.port(), registry.port());

    EXPECT_EQ(fixture.query("www.example.dev"), "example.dev");
    EXPECT_EQ(iana.received(0), "dev\r\n");
    EXPECT_TRUE(registry.waitForReceived(0, "example.dev\n\r")) << registry.received(0);
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "Domain Name: example.dev\r\n");
    // The busy text, then the registry's answer; nothing of IANA's text.
    const auto log = fixture.box.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], std::make_pair("set"s, Text(busyText)));
    for (const auto& [operation, text] : log) {
        EXPECT_EQ(text.find("IANA"), std::string::npos) << operation << " " << text;
    }

    // The same top-level domain again, in capitals: IANA is not asked a second time.
    EXPECT_EQ(fixture.query("other.example.DEV"), "example.DEV");
    EXPECT_TRUE(registry.waitForReceived(1, "example.DEV\n\r")) << registry.received(1);
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(iana.connections(), 1u);
    EXPECT_EQ(fixture.asked(), (std::vector<std::string>{"whois.nic.google", "whois.nic.google"}));
}

TEST(WhoisReferral, NoServerNamedLeavesTheBoxAloneAndIsRemembered) {
    const std::vector<std::pair<const char*, TcpScript>> cases = {
        {"whois line without a value", TcpScript::answer({{ianaAnswer("no_whois.txt")}})},
        {"no such domain", TcpScript::answer({{ianaAnswer("no_such_domain.txt")}})},
        {"nonsense", TcpScript::answer({{"\x89PNG\r\n\x1A\n\0\0\0\rIHDR refer"s}})},
        {"closes without a byte", TcpScript::closeWithoutData()},
    };
    for (const auto& [what, script] : cases) {
        TcpServer iana({script});
        TcpServer registry({TcpScript::answer({{"never asked\n"}})});
        ReferralFixture fixture(iana.port(), registry.port());
        fixture.query("www.example.zz");
        fixture.query("example.zz");
        EXPECT_EQ(fixture.box.readText(), "before") << what;
        EXPECT_TRUE(fixture.box.log().empty()) << what;
        EXPECT_EQ(iana.connections(), 1u) << what;
        EXPECT_EQ(registry.connections(), 0u) << what;
        EXPECT_TRUE(fixture.asked().empty()) << what;
    }
}

// An exchange that does not end in a whole answer names no server, even when what arrived
// held a refer line, and is not kept: the next lookup asks again.
TEST(WhoisReferral, BrokenExchangeNamesNoServerAndIsNotKept) {
    const std::string refer = "refer:        whois.nic.google\n";
    std::string huge = refer;
    while (huge.size() < (1u << 20)) {
        huge += "remarks:      " + std::string(66, 'x') + "\n";
    }
    struct Case {
        const char* what;
        TcpScript script;
    };
    const Case cases[] = {
        {"silent", TcpScript::neverAnswer()},
        {"reset after the refer line", TcpScript::resetAfter({{refer}, {"domain: DEV\n", 20ms}})},
        {"a megabyte of answer", TcpScript::answer({{huge}})},
        {"trickles past the time", TcpScript::trickle(refer, 40ms)},
    };
    for (const Case& c : cases) {
        TcpServer iana({c.script});
        TcpServer registry({TcpScript::answer({{"never asked\n"}})});
        ReferralFixture fixture(iana.port(), registry.port());
        fixture.endpoints.ianaAnswerTimeout = 300ms;
        fixture.query("www.example.dev");
        EXPECT_EQ(fixture.box.readText(), "before") << c.what;
        EXPECT_TRUE(fixture.box.log().empty()) << c.what;
        if (!c.script.resetAtEnd) {
            EXPECT_TRUE(iana.waitForClientClose(0)) << c.what;  // the worker has hung up
        }
        fixture.query("www.example.dev");
        EXPECT_EQ(iana.connections(), 2u) << c.what;
        EXPECT_EQ(registry.connections(), 0u) << c.what;
    }

    const auto refusing = TcpServer::refusing();
    ReferralFixture fixture(refusing->port(), refusing->port());
    fixture.query("www.example.dev");
    EXPECT_EQ(fixture.box.readText(), "before");
    EXPECT_TRUE(fixture.asked().empty());
}

TEST(WhoisReferral, GbkTopLevelLabelIsAskedAsItsALabel) {
    TcpServer iana({TcpScript::answer({{"refer:        whois.nic.xn--3ds443g\n"}})});
    TcpServer registry({TcpScript::answer({{"ok\n"}})});
    ReferralFixture fixture(iana.port(), registry.port());
    // www.例子.在线: the query line to the registry keeps the GBK bytes.
    EXPECT_EQ(fixture.query("www.\xC0\xFD\xD7\xD3.\xD4\xDA\xCF\xDF"),
              "\xC0\xFD\xD7\xD3.\xD4\xDA\xCF\xDF");
    EXPECT_EQ(iana.received(0), "xn--3ds443g\r\n");
    EXPECT_TRUE(registry.waitForReceived(0, "\xC0\xFD\xD7\xD3.\xD4\xDA\xCF\xDF\n\r"))
        << showBytes(registry.received(0));

    // A top-level label that is no DNS label is not asked about.
    fixture.query("example.dev/");
    fixture.query("example.\xD4");
    EXPECT_EQ(iana.connections(), 1u);
}

// IANA is asked on the worker while the window's client still holds the earlier lookup's
// connection; only the connect to the named server closes it.
TEST(WhoisReferral, EarlierConnectionStaysUntilTheNamedServerIsConnected) {
    TcpServer registries({TcpScript::answer({{"first part\n"}, {"first tail\n", 0ms, true}}),
                          TcpScript::answer({{"Domain Name: example.dev\n"}})});
    TcpServer iana({TcpScript::heldPieces({ianaAnswer("dev.txt")})});
    ReferralFixture fixture(iana.port(), registries.port());
    fixture.query("example.com");
    ASSERT_TRUE(registries.waitForReceived(0, "example.com\n\r"));

    std::thread worker([&] { fixture.query("example.dev"); });
    EXPECT_TRUE(iana.waitForReceived(0, "dev\r\n"));
    EXPECT_FALSE(registries.waitForClientClose(0, 200ms));
    iana.release(0);
    worker.join();
    EXPECT_TRUE(registries.waitForClientClose(0));
    EXPECT_TRUE(registries.waitForReceived(1, "example.dev\n\r"));
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "Domain Name: example.dev\r\n");
}

TEST(WhoisReferral, WorkersAtOnceShareWhatIanaSaid) {
    TcpServer iana({TcpScript::answer({{ianaAnswer("dev.txt"), 50ms}})});
    Endpoints endpoints;
    endpoints.ianaWhois = {"127.0.0.1", iana.port()};
    RunMemory memory;
    std::vector<Text> found(6);
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < found.size(); ++i) {
        workers.emplace_back([&, i] {
            MemoryOutputBox box;
            testing::UnreachableWhoisConnection client;
            LookupContext context{box, client, endpoints, &memory};
            found[i] = whoisServerByReferral(i % 2 == 0 ? "dev" : "DEV", context);
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (const Text& server : found) {
        EXPECT_EQ(server, "whois.nic.google");
    }
    const std::size_t asked = iana.connections();
    EXPECT_GE(asked, 1u);

    MemoryOutputBox box;
    testing::UnreachableWhoisConnection client;
    LookupContext context{box, client, endpoints, &memory};
    EXPECT_EQ(whoisServerByReferral("dev", context), "whois.nic.google");
    EXPECT_EQ(iana.connections(), asked);
}

// Every key of the table keeps its own server: IANA is never asked about one.
TEST(WhoisReferral, TableKeysNeverAskIana) {
    TcpServer iana({TcpScript::answer({{"refer: whois.nic.google\n"}})});
    ReferralFixture fixture(iana.port(), 1);
    std::vector<std::string> expected;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        fixture.query("www.example." + std::string(entry.key));
        expected.emplace_back(entry.server);
    }
    EXPECT_EQ(iana.connections(), 0u);
    EXPECT_EQ(fixture.asked(), expected);
}

}  // namespace
}  // namespace tessaly
