// The web WHOIS fallbacks: response handling of both services on fixture bodies, their
// requests byte for byte against loopback servers, and the whole whois chain with a TCP
// step whose connect fails.
//
// GBK characters are written as escaped bytes. A literal is split wherever a hex digit
// letter follows an escape ("\xB0" "a"), or the compiler would read it as one escape.
#include <gtest/gtest.h>

#include <time.h>

#include <random>
#include <string>
#include <vector>

#include "app/chains.h"
#include "base/version.h"
#include "support/case_exchange.h"
#include "support/http_server.h"
#include "support/literal_web_whois.h"
#include "support/loopback_endpoints.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "text/codepage.h"
#include "text/extract.h"
#include "whois/web_whois.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using namespace std::string_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::literalServiceAResult;
using testing::MemoryDomainBox;
using testing::MemoryOutputBox;
using testing::RefusingPort;
using testing::showBytes;
using Fault = CannedReply::Fault;

using testing::UnreachableWhoisConnection;

const std::string acceptLine = "Accept: application/json, text/javascript, */*; q=0.01\r\n";
const std::string contentTypeLine =
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n";

long long clockMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

TEST(WebWhoisServiceA, SmallBodies) {
    struct Case {
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"<pre></pre>", ""},
        {"<pre>unterminated", ""},
        // Each start marker begins a piece that runs to the next end marker.
        {"<pre>a<pre>b</pre>", "a<pre>bb"},
        {"<Pre>x</PRE>", "x"},
        {"<pre>a\nb</pre>", "a\r\nb"},
        {"<pre>a<br />b<br /></pre>", "ab"},
        {"<pre><br /><br /></pre>", ""},
        // The deletion comes after LF -> CR LF, so an LF inside the tag stays in pieces.
        {"<pre><br \n/></pre>", "<br \r\n/>"},
        // GBK 未知 read as UTF-8: U+03B4 δ, which GBK has, and U+05AA, which it lacks.
        {"<pre>\xCE\xB4\xD6\xAA</pre>", "\xA6\xC4?"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(showBytes(webWhoisServiceAResult(c.body)), showBytes(c.expected))
            << showBytes(c.body);
    }
}

// The pieces are joined as they are found rather than through extractBetween's list; the
// result must be the same as joining that list.
TEST(WebWhoisServiceA, JoinsLikeTheListOfPieces) {
    const std::vector<std::string> tokens = {
        "<pre>",
        "</pre>",
        "<PRE>",
        "</Pre>",
        "<pre",
        "pre>",
        "</pre",
        "\n",
        "\r\n",
        "<br />",
        "<BR />",
        "x",
        "yz",
        "\xC3\xA9",
        "\xE6\x9C\xAA",
        "\xFF",
        "e\xCC\x81",
        "\xE4\xB8",
        "\xF0\x9F\x98\x80",
    };
    std::mt19937 random(20140116);
    std::uniform_int_distribution<std::size_t> pick(0, tokens.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int trial = 0; trial < 5000; ++trial) {
        Bytes body;
        for (int n = length(random); n > 0; --n) {
            body += tokens[pick(random)];
        }
        ASSERT_EQ(showBytes(webWhoisServiceAResult(body)), showBytes(literalServiceAResult(body)))
            << showBytes(body);
    }
}

// A million start markers before one end marker would make a million overlapping pieces
// of up to five megabytes each. Joining stops at the bound with the whole pieces so far.
TEST(WebWhoisServiceA, OverlappingPiecesStopAtTheBound) {
    const std::size_t markers = 1'000'000;
    Bytes body;
    for (std::size_t i = 0; i < markers; ++i) {
        body += "<pre>";
    }
    body += "</pre>";

    std::size_t expectedSize = 0;
    for (std::size_t i = 0; i < markers; ++i) {
        const std::size_t piece = 5 * (markers - 1 - i);
        if (expectedSize + piece > webWhoisJoinLimit) {
            break;
        }
        expectedSize += piece;
    }
    const Text shown = webWhoisServiceAResult(body);
    ASSERT_EQ(shown.size(), expectedSize);
    EXPECT_LE(shown.size(), webWhoisJoinLimit);
    EXPECT_EQ(shown.find_first_not_of("<pre>"), std::string::npos);
}

TEST(JoinPreBlocks, APieceBeyondTheBoundEndsTheJoining) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string expected;
    };
    const Case cases[] = {
        {"<pre>aaaa</pre><pre>bbbbbb</pre><pre>c</pre>", 10, "aaaabbbbbb"},
        {"<pre>aaaa</pre><pre>bbbbbbb</pre><pre>c</pre>", 10, "aaaa"},
        {"<pre>" + std::string(11, 'x') + "</pre>", 10, ""},
        {"<pre><pre><pre></pre>", 12, "<pre><pre>"},
        {"<pre></pre><pre></pre>", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(joinPreBlocks(c.text, c.limit), c.expected) << c.text << " " << c.limit;
    }
}

TEST(WebWhoisServiceB, BodyAsItCame) {
    struct Case {
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Domain Name: example.com\nStatus: ok\n", "Domain Name: example.com\r\nStatus: ok\r\n"},
        {"a\r\nb", "a\r\r\nb"},
        {"before\0after"s, "before"},
        {"\0"s, ""},
        // No character set conversion: UTF-8 域名 stays as its bytes.
        {"<p>\xE5\x9F\x9F\xE5\x90\x8D: x</p>", "<p>\xE5\x9F\x9F\xE5\x90\x8D: x</p>"},
        {"<pre>kept</pre>", "<pre>kept</pre>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(showBytes(webWhoisServiceBResult(c.body)), showBytes(c.expected))
            << showBytes(c.body);
    }
}

TEST(ScriptTimestamp, MillisecondsFromTheSystemClock) {
    const long long before = clockMilliseconds();
    const Text stamp = scriptTimestamp();
    const long long after = clockMilliseconds();
    ASSERT_EQ(stamp.size(), 13u) << stamp;
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << stamp;
    const long long value = std::stoll(stamp);
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
}

class WebWhoisRequestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initRequests(); }

    Endpoints endpointsFor(const HttpServer& a, const HttpServer& b) const {
        Endpoints e;
        e.webWhoisServiceA.origin = a.origin();
        e.webWhoisServiceB.origin = b.origin();
        return e;
    }
};

// Each case file under data/web_whois: one service asked for one domain, the reply it gets,
// the request it must send byte for byte and what it leaves in the box (it starts with
// "未知", as the chain hands the box to a web service).
class WebWhoisCase : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() { initRequests(); }
};

TEST_P(WebWhoisCase, RequestAndShownText) {
    const testing::CaseFile file = testing::readCaseFile(GetParam());
    const testing::ForgetCookies cookiesOfThisCaseOnly;
    const std::string service = testing::clientValue(file, "service");
    ASSERT_TRUE(service == "A" || service == "B") << file.path;
    const LookupStep step = service == "A" ? webWhoisServiceA : webWhoisServiceB;

    HttpServer server(testing::replyScriptOf(file));
    const Endpoints endpoints = testing::endpointsAt(server.origin());
    MemoryOutputBox box(unknownText);
    UnreachableWhoisConnection client;
    LookupContext context{box, client, endpoints};
    const Text typed = testing::clientValue(file, "domain");
    Text domain = typed;
    const long long before = clockMilliseconds();
    step(domain, context);
    const long long after = clockMilliseconds();

    const auto requests = server.requests();
    testing::CaseVariables variables = {
        {"HOST", server.hostHeader()},
        {"VERSION", std::string(tessalyVersion)},
        {"REGISTRAR", std::string(registrarWhoisHost)},
    };
    // Service B's last key is the time of the request in milliseconds, 13 digits.
    if (service == "B" && !requests.empty()) {
        const std::string& target = requests[0].target;
        const std::string stamp = target.substr(target.rfind("&_=") + 3);
        ASSERT_EQ(stamp.size(), 13u) << target;
        ASSERT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << target;
        EXPECT_GE(std::stoll(stamp), before);
        EXPECT_LE(std::stoll(stamp), after);
        variables["STAMP"] = stamp;
    }
    const std::vector<std::string> expected = testing::expectedRequestsOf(file, variables);
    ASSERT_EQ(requests.size(), expected.size()) << file.path;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(showBytes(requests[i].raw()), showBytes(expected[i])) << file.path;
    }
    const auto log = box.log();
    ASSERT_EQ(log.size(), 1u) << file.path << ": the step sets the box once";
    EXPECT_EQ(log[0].first, "set");
    EXPECT_EQ(showBytes(box.readText()), showBytes(testing::expectedOutputOf(file))) << file.path;
    EXPECT_EQ(domain, typed) << "the step leaves the domain alone";
    EXPECT_EQ(client.calls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WebWhoisCase,
                         ::testing::ValuesIn(testing::listCaseFiles(TESSALY_TEST_DATA
                                                                    "/web_whois")),
                         testing::caseTestName<::testing::TestParamInfo<std::string>>);

// Neither service looks at the status or at whether the request worked: the body it got,
// an empty one included, goes through the same steps, and the box is set exactly once.
TEST_F(WebWhoisRequestTest, FailuresAndStatusesGoThroughTheSameSteps) {
    struct Case {
        const char* name;
        CannedReply reply;
        std::string expectedA;
        std::string expectedB;
    };
    const Case cases[] = {
        {"not found, empty", CannedReply::ok("", 404), "", ""},
        {"closes early", CannedReply::failing(Fault::closeEarly), "", ""},
        {"wrong length", CannedReply::failing(Fault::wrongContentLength), "", ""},
    };
    for (const Case& c : cases) {
        for (LookupStep step : {webWhoisServiceA, webWhoisServiceB}) {
            HttpServer server({c.reply});
            const Endpoints endpoints = endpointsFor(server, server);
            MemoryOutputBox box(unknownText);
            UnreachableWhoisConnection client;
            LookupContext context{box, client, endpoints};
            Text domain = "example.com";
            step(domain, context);
            const std::string& expected = step == webWhoisServiceA ? c.expectedA : c.expectedB;
            const auto log = box.log();
            ASSERT_EQ(log.size(), 1u) << c.name;
            EXPECT_EQ(log[0].first, "set") << c.name;
            EXPECT_EQ(showBytes(log[0].second), showBytes(expected)) << c.name;
        }
    }

    RefusingPort refusing;
    const Endpoints endpoints =
        testing::endpointsAt("http://127.0.0.1:" + std::to_string(refusing.port()));
    for (LookupStep step : {webWhoisServiceA, webWhoisServiceB}) {
        MemoryOutputBox box(unknownText);
        UnreachableWhoisConnection client;
        LookupContext context{box, client, endpoints};
        Text domain = "example.com";
        step(domain, context);
        const auto log = box.log();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0], std::make_pair(std::string("set"), Text()));
    }
}

// The whole chain, with a TCP step that cannot connect and so leaves the box as it was.
TEST_F(WebWhoisRequestTest, ChainAsksTheServicesOnlyWhileTheBoxHoldsUnknown) {
    struct Case {
        const char* name;
        std::string boxBefore;
        std::string replyA;
        bool asksA;
        bool asksB;
        std::string boxAfter;
    };
    const std::string answerB = "Registrar: B\nStatus: ok";
    const std::string unknown(unknownText);
    const Case cases[] = {
        {"A answers", unknown, "<pre>Registrar: A</pre>", true, false, "Registrar: A"},
        {"A has no block", unknown, "<html>no match</html>", true, false, ""},
        {"A says unknown", unknown, "<pre>\xE6\x9C\xAA\xE7\x9F\xA5</pre>", true, true,
         "Registrar: B\r\nStatus: ok"},
        {"A says unknown and a line end", unknown, "<pre>\xE6\x9C\xAA\xE7\x9F\xA5\n</pre>", true,
         false, unknown + "\r\n"},
        {"box empty", "", "<pre>Registrar: A</pre>", false, false, ""},
        {"box holds unknown and CR LF", unknown + "\r\n", "<pre>Registrar: A</pre>", false, false,
         unknown + "\r\n"},
    };
    for (const Case& c : cases) {
        HttpServer serverA({CannedReply::ok(c.replyA)});
        HttpServer serverB({CannedReply::ok(answerB)});
        const Endpoints endpoints = endpointsFor(serverA, serverB);
        MemoryOutputBox box(c.boxBefore);
        MemoryDomainBox domainBox("http://www.example.com");
        UnreachableWhoisConnection client;
        LookupContext context{box, client, endpoints};
        runWhoisLookup(domainBox, context);

        EXPECT_EQ(showBytes(box.readText()), showBytes(c.boxAfter)) << c.name;
        ASSERT_EQ(serverA.requestCount(), c.asksA ? 1u : 0u) << c.name;
        ASSERT_EQ(serverB.requestCount(), c.asksB ? 1u : 0u) << c.name;
        // Both services receive the reduced domain.
        if (c.asksA) {
            EXPECT_EQ(serverA.requests()[0].body, "domain=example.com") << c.name;
        }
        if (c.asksB) {
            EXPECT_EQ(serverB.requests()[0].target.rfind(
                          std::string(endpoints.webWhoisServiceB.path) + "?host=example.com&", 0),
                      0u)
                << c.name;
        }
    }
}

}  // namespace
}  // namespace tessaly
