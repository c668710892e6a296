// The WHOIS step: reducing the typed domain, the query over TCP against loopback servers,
// and the showing of the answer as it arrives.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/chains.h"
#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "support/tcp_server.h"
#include "support/whois_query_fixture.h"
#include "whois/whois_query.h"
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

// Polls until done() holds; false after ten seconds.
bool eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(ReduceDomain, KeepsTheRegistrableName) {
    struct Case {
        std::string typed;
        std::string domain;
        std::string topLevel;
    };
    const Case cases[] = {
        {"www.example.com", "example.com", "com"},
        {"example.de", "example.de", "de"},
        {"a.b.example.de", "example.de", "de"},
        {"www.example.com.cn", "example.com.cn", "cn"},
        {"mail.example.co.uk", "example.co.uk", "uk"},
        {"x.example.net.cn", "example.net.cn", "cn"},
        {"x.example.org.cn", "example.org.cn", "cn"},
        {"x.example.edu.au", "example.edu.au", "au"},
        {"com.cn", "com.cn", "cn"},  // two labels stay as typed
        {"co.uk", "co.uk", "uk"},
        // The second-level labels count in lower case only.
        {"www.example.COM.cn", "COM.cn", "cn"},
        {"www.example.Co.uk", "Co.uk", "uk"},
        {"www.example.gov.cn", "gov.cn", "cn"},
        // Every "http://" goes, in any case of its letters, wherever it stands.
        {"http://www.example.com", "example.com", "com"},
        {"HTTP://www.example.com", "example.com", "com"},
        {"Http://www.example.com", "example.com", "com"},
        {"http://http://example.com", "example.com", "com"},
        {"example.http://com", "example.com", "com"},
        // Nothing else is removed.
        {"https://www.example.com", "example.com", "com"},
        {"https://example.com", "https://example.com", "com"},
        {"www.example.com/", "example.com/", "com/"},
        {"www.example.com:43", "example.com:43", "com:43"},
        {" www.example.com", "example.com", "com"},
        {" example.com", " example.com", "com"},
        // An empty label after the last dot does not count; others do.
        {"www.example.com.", "example.com", "com"},
        {"a..b", ".b", "b"},
        {".com", ".com", "com"},
        {"..", ".", ""},
        // GBK labels are taken as they stand.
        {"www.\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA", "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA",
         "\xD6\xD0\xB9\xFA"},  // www.例子.中国
    };
    for (const Case& c : cases) {
        const ReducedDomain reduced = reduceDomain(c.typed);
        EXPECT_TRUE(reduced.reducible) << showBytes(c.typed);
        EXPECT_EQ(reduced.domain, c.domain) << showBytes(c.typed);
        EXPECT_EQ(reduced.topLevel, c.topLevel) << showBytes(c.typed);
    }
}

TEST(ReduceDomain, FewerThanTwoLabelsAreNotReduced) {
    struct Case {
        std::string typed;
        std::string domain;  // only "http://" removed
    };
    const Case cases[] = {
        // clang-format off
        {"", ""},
        {"localhost", "localhost"},
        {".", "."},        // one empty label
        {"com.", "com."},  // the empty label after the dot does not count
        {"http://", ""},
        {"HTTP://localhost", "localhost"},
        // clang-format on
    };
    for (const Case& c : cases) {
        const ReducedDomain reduced = reduceDomain(c.typed);
        EXPECT_FALSE(reduced.reducible) << showBytes(c.typed);
        EXPECT_EQ(reduced.domain, c.domain) << showBytes(c.typed);
    }
}

TEST(OnWhoisDataArrived, FirstArrivalReplacesLaterOnesAppend) {
    struct Arrival {
        std::string bytes;
        bool first;
        const char* writtenBefore = nullptr;  // another lookup's write just before it
    };
    struct Case {
        const char* what;
        std::vector<Arrival> arrivals;
        std::string shown;
    };
    const Case cases[] = {
        {"LF becomes CR LF", {{"a\nb\n", true}}, "a\r\nb\r\n"},
        {"CR LF becomes CR CR LF", {{"a\r\nb", true}}, "a\r\r\nb"},
        {"GBK untouched", {{"\xCE\xB4\xD6\xAA\n", true}}, "\xCE\xB4\xD6\xAA\r\n"},
        {"pieces of one answer",
         {{"Domain: A\n", true}, {"Registrar: B\n", false}},
         "Domain: A\r\nRegistrar: B\r\n"},
        {"a line end split across arrivals", {{"a\r", true}, {"\nb", false}}, "a\r\r\nb"},
        {"a new connection starts afresh", {{"old\n", true}, {"new\n", true}}, "new\r\n"},
        {"a zero byte ends its arrival", {{"ab\0cd"s, true}, {"ef\0"s, false}}, "abef"},
        {"an arrival that starts with a zero byte", {{"\0abc"s, true}}, ""},
        {"another lookup wrote between two arrivals",
         {{"Domain: A\n", true}, {"Registrar: B\n", false, "trace"}},
         "Domain: A\r\nRegistrar: B\r\n"},
        {"the user cleared the box between two arrivals",
         {{"Domain: A\n", true}, {"Registrar: B\n", false, ""}},
         "Domain: A\r\nRegistrar: B\r\n"},
    };
    for (const Case& c : cases) {
        MemoryOutputBox box("before");
        Text answerSoFar;
        for (const Arrival& arrival : c.arrivals) {
            if (arrival.first) {
                answerSoFar.clear();
            }
            if (arrival.writtenBefore != nullptr) {
                box.setText(arrival.writtenBefore);
            }
            onWhoisDataArrived(arrival.bytes, answerSoFar, box);
            EXPECT_EQ(box.log().back().first, "caret") << c.what;
        }
        EXPECT_EQ(box.readText(), c.shown) << c.what << ": " << showBytes(box.readText());
    }
}

// A loopback query: the registrar's host resolves to 127.0.0.1, every other name to nothing.
struct QueryFixture : testing::WhoisQueryFixture {
    explicit QueryFixture(int port, std::chrono::milliseconds timeout = whoisConnectTimeout)
        : WhoisQueryFixture(port, {std::string(registrarWhoisHost)}, timeout) {}
};

TEST(QueryWhoisServer, SendsTheReducedNameThenShowsTheWholeAnswer) {
    TcpServer server({TcpScript::heldPieces({"Domain Name: EXAMPLE.COM\n", "Registrar: R\r\n"})});
    QueryFixture fixture(server.port());

    EXPECT_EQ(fixture.query("www.example.com"), "example.com");
    // The query line is the name, LF, CR; nothing more, no zero byte.
    EXPECT_TRUE(server.waitForReceived(0, "example.com\n\r")) << showBytes(server.received(0));
    EXPECT_EQ(fixture.box.readText(), busyText);  // before any answer

    server.release(0);
    EXPECT_TRUE(
        eventually([&] { return fixture.box.readText() == "Domain Name: EXAMPLE.COM\r\n"; }));
    server.release(0);
    EXPECT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "Domain Name: EXAMPLE.COM\r\nRegistrar: R\r\r\n");
    EXPECT_EQ(fixture.client.arrivals(), 2u);
    EXPECT_EQ(fixture.asked(), std::vector<std::string>{std::string(registrarWhoisHost)});
}

TEST(QueryWhoisServer, AnswerInPiecesWithPausesIsShownWhole) {
    std::vector<testing::TcpPiece> pieces;
    std::string whole;
    for (int i = 0; i < 6; ++i) {
        const std::string line = "line " + std::to_string(i) + "\n";
        pieces.push_back({line, 30ms});
        whole += "line " + std::to_string(i) + "\r\n";
    }
    TcpServer server({TcpScript::answer(pieces)});
    QueryFixture fixture(server.port());
    fixture.query("example.com");
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), whole);
}

TEST(QueryWhoisServer, GBKQueryLineAndZeroBytesInTheAnswer) {
    TcpServer server({TcpScript::heldPieces({"abc\0def\n"s, "ghi\n"})});
    QueryFixture fixture(server.port());
    // The name goes out in its GBK bytes; the registrar answers for 中国.
    EXPECT_EQ(fixture.query("www.\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA"),
              "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA");
    EXPECT_TRUE(server.waitForReceived(0, "\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA\n\r"));
    server.release(0);
    EXPECT_TRUE(eventually([&] { return fixture.client.arrivals() == 1; }));
    EXPECT_EQ(fixture.box.readText(), "abc");
    server.release(0);
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "abcghi\r\n");
}

TEST(QueryWhoisServer, ChoosesTheServerOfTheTopLevelLabel) {
    struct Case {
        std::string typed;
        std::string host;  // empty: no server, so nothing is looked up
    };
    const Case cases[] = {
        {"www.example.com.cn", std::string(registrarWhoisHost)},
        {"mail.example.co.uk", std::string(whoisServerFor("uk"))},
        {"a.b.example.de", std::string(whoisServerFor("de"))},
        {"www.example.COM.cn", std::string(registrarWhoisHost)},
        {"a..ru", std::string(whoisServerFor("ru"))},
        {"www.example.com/", ""},
        {"www.example.xyz", ""},
        {"www.example.COM", ""},
    };
    for (const Case& c : cases) {
        QueryFixture fixture(1);  // port 1: nothing listens there
        fixture.query(c.typed);
        const std::vector<std::string> expected =
            c.host.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.host};
        EXPECT_EQ(fixture.asked(), expected) << c.typed;
        EXPECT_EQ(fixture.box.readText(), "before") << c.typed;
    }
}

TEST(QueryWhoisServer, FailedConnectLeavesTheBoxAsItWas) {
    const auto refusing = TcpServer::refusing();
    const auto neverAccepting = TcpServer::neverAccepting();
    struct Case {
        const char* what;
        std::string typed;
        int port;
        std::chrono::milliseconds timeout;
    };
    const Case cases[] = {
        {"refused", "example.com", refusing->port(), whoisConnectTimeout},
        {"time-out", "example.com", neverAccepting->port(), 300ms},
        {"name that does not resolve", "example.de", refusing->port(), whoisConnectTimeout},
        {"no server for the top-level label", "example.xyz", refusing->port(), whoisConnectTimeout},
        {"a single label", "localhost", refusing->port(), whoisConnectTimeout},
        {"the empty text", "", refusing->port(), whoisConnectTimeout},
    };
    for (const Case& c : cases) {
        QueryFixture fixture(c.port, c.timeout);
        fixture.query(c.typed);
        EXPECT_EQ(fixture.box.readText(), "before") << c.what;
        EXPECT_TRUE(fixture.box.log().empty()) << c.what;
    }
}

TEST(QueryWhoisServer, ServerThatSendsNothingLeavesTheBusyText) {
    for (const TcpScript& script : {TcpScript::closeWithoutData(), TcpScript::neverAnswer()}) {
        TcpServer server({script});
        QueryFixture fixture(server.port());
        fixture.query("example.com");
        ASSERT_TRUE(server.waitForReceived(0, "example.com\n\r"));
        if (script.kind == TcpScript::Kind::closeWithoutData) {
            EXPECT_TRUE(fixture.client.waitForServerClose());
        }
        EXPECT_EQ(fixture.box.readText(), busyText);
        EXPECT_EQ(fixture.client.arrivals(), 0u);
    }
}

TEST(QueryWhoisServer, NewQueryClosesTheConnectionOfTheEarlierOne) {
    TcpServer server({TcpScript::answer({{"first part\n"}, {"first tail\n", 0ms, true}}),
                      TcpScript::answer({{"second answer\n"}})});
    QueryFixture fixture(server.port());
    fixture.query("one.example.com");
    ASSERT_TRUE(eventually([&] { return fixture.box.readText() == "first part\r\n"; }));

    fixture.query("two.example.com");
    EXPECT_TRUE(server.waitForClientClose(0));  // the earlier connection is gone
    EXPECT_TRUE(server.waitForReceived(1, "example.com\n\r"));
    ASSERT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "second answer\r\n");
    server.release(0);
    EXPECT_TRUE(server.waitForAnswered(0));
    EXPECT_EQ(fixture.box.readText(), "second answer\r\n");
}

TEST(QueryWhoisServer, QueryWithoutServerStillEndsTheEarlierAnswer) {
    TcpServer server({TcpScript::answer({{"first part\n"}, {"first tail\n", 0ms, true}})});
    QueryFixture fixture(server.port());
    fixture.query("example.com");
    ASSERT_TRUE(eventually([&] { return fixture.box.readText() == "first part\r\n"; }));

    fixture.query("example.xyz");
    EXPECT_TRUE(server.waitForClientClose(0));
    server.release(0);
    EXPECT_TRUE(server.waitForAnswered(0));
    EXPECT_EQ(fixture.box.readText(), "first part\r\n");
    EXPECT_EQ(server.connections(), 1u);
}

}  // namespace
}  // namespace tessaly
