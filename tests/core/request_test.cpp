// The request object against real loopback servers: the bytes on the wire, the body as
// received, and an empty body for every kind of failure.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <optional>
#include <string>

#include "net/request.h"
#include "support/case_exchange.h"
#include "support/http_server.h"

namespace tessaly {
namespace {

using testing::CannedReply;
using testing::HttpServer;
using testing::RefusingPort;
using testing::TestCertificates;
using Fault = CannedReply::Fault;

class RequestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initRequests(); }
};

Bytes fetch(const RequestPolicy& policy, std::string_view method, const std::string& url,
            std::optional<std::string_view> body = std::nullopt, bool withXRequestedWith = true) {
    RequestObject request(policy);
    request.open(method, url);
    setLookupHeaders(request, url, withXRequestedWith);
    if (body) {
        request.send(*body);
    } else {
        request.send();
    }
    return request.responseBody();
}

const std::string commonTail =
    "Accept: application/json, text/javascript, */*; q=0.01\r\n"
    "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n";

TEST_F(RequestTest, PostCarriesTheHeadersInOrderAndNothingElse) {
    HttpServer server({CannedReply::ok("answer")});
    const std::string url = server.origin() + "/Tools/dig_trace/";
    EXPECT_EQ(fetch({}, "POST", url, "host=example.com&opcode=digtrace"), "answer");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw(),
              "POST /Tools/dig_trace/ HTTP/1.1\r\n"
              "Host: " +
                  server.hostHeader() + "\r\nUser-Agent: " + userAgent() +
                  "\r\n"
                  "Referer: " +
                  url +
                  "\r\n"
                  "X-Requested-With: XMLHttpRequest\r\n" +
                  commonTail +
                  "Content-Length: 32\r\n"
                  "\r\n"
                  "host=example.com&opcode=digtrace");
}

TEST_F(RequestTest, GetSendsTheSameHeadersWithoutBody) {
    HttpServer server({CannedReply::ok("page")});
    const std::string url = server.origin() + "/?hostnames=a&type=";
    EXPECT_EQ(fetch({}, "GET", url, std::nullopt, false), "page");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw(),
              "GET /?hostnames=a&type= HTTP/1.1\r\n"
              "Host: " +
                  server.hostHeader() + "\r\nUser-Agent: " + userAgent() +
                  "\r\n"
                  "Referer: " +
                  url + "\r\n" + commonTail + "\r\n");
}

TEST_F(RequestTest, LongBodyIsSentAtOnceWithoutExpect) {
    HttpServer server({CannedReply::ok("ok")});
    // curl would ask for "100 Continue" before a body of this size.
    const std::string body((1u << 20) + 1000, 'v');
    EXPECT_EQ(fetch({}, "POST", server.origin() + "/lookup-dg.aspx", body, false), "ok");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Expect"), "");
    // Host, User-Agent, Referer, Accept, Content-Type, Content-Length
    EXPECT_EQ(requests[0].headerLines.size(), 6u);
    EXPECT_EQ(requests[0].body, body);
}

TEST_F(RequestTest, BodyTextGoesOutAsUtf8) {
    HttpServer server({CannedReply::ok("")});
    fetch({}, "POST", server.origin() + "/", "d=\xC0\xFD\xD7\xD3.com&x=$|");  // d=例子.com
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "d=\xE4\xBE\x8B\xE5\xAD\x90.com&x=$|");
}

TEST(UrlWireForm, EncodesOnlyWhatCannotStandRaw) {
    struct Case {
        std::string_view url;
        std::string_view wire;
    } cases[] = {
        {"http://h/?q=a&b=c$d|e", "http://h/?q=a&b=c$d|e"},
        {"http://h/?q=a b", "http://h/?q=a%20b"},
        {"http://h/?q=\xC0\xFD\xD7\xD3", "http://h/?q=%E4%BE%8B%E5%AD%90"},  // 例子
        {"http://h/?q=a\tb\x01\x7F", "http://h/?q=a%09b%01%7F"},
        {"http://h/?q=a#b", "http://h/?q=a%23b"},
        {"http://h/?q=%41%zz\"<>{}^`\\", "http://h/?q=%41%zz\"<>{}^`\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(urlWireForm(c.url), c.wire) << c.url;
    }
}

TEST_F(RequestTest, UrlAndRefererArriveInTheWireForm) {
    HttpServer server;
    // hostnames=例 子&x="<>{}^`|%zz\#
    const std::string query = "/?hostnames=\xC0\xFD \xD7\xD3&x=\"<>{}^`|%zz\\#";
    const std::string wireQuery = "/?hostnames=%E4%BE%8B%20%E5%AD%90&x=\"<>{}^`|%zz\\%23";
    fetch({}, "GET", server.origin() + query);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, wireQuery);
    EXPECT_EQ(requests[0].header("Referer"), server.origin() + wireQuery);
}

TEST_F(RequestTest, BodyComesBackAsReceivedWhateverTheStatus) {
    const std::string withZero("a\0b\xFF", 4);
    struct Case {
        CannedReply reply;
        std::string expected;
    } cases[] = {
        {CannedReply::ok("server error page", 500), "server error page"},
        {CannedReply::ok("missing", 404), "missing"},
        {CannedReply::ok(withZero), withZero},
        {CannedReply::ok(""), ""},
    };
    for (const Case& c : cases) {
        HttpServer server({c.reply});
        EXPECT_EQ(fetch({}, "POST", server.origin() + "/", "x"), c.expected) << c.reply.status;
    }
}

TEST_F(RequestTest, FollowsAFewRedirects) {
    HttpServer server({CannedReply::redirect("/next"), CannedReply::ok("there")});
    EXPECT_EQ(fetch({}, "GET", server.origin() + "/first"), "there");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/next");
}

TEST_F(RequestTest, EveryFailureGivesAnEmptyBody) {
    RequestPolicy quick;
    quick.connectTimeoutMs = 2'000;
    quick.totalTimeoutMs = 400;
    quick.maxBodyBytes = 1000;
    struct Case {
        const char* name;
        CannedReply reply;
    } cases[] = {
        {"never answers", CannedReply::failing(Fault::neverAnswer)},
        {"closes early", CannedReply::failing(Fault::closeEarly)},
        {"wrong Content-Length", CannedReply::failing(Fault::wrongContentLength)},
        {"broken chunked", CannedReply::failing(Fault::brokenChunked)},
        {"over the cap", CannedReply::huge(1001)},
        {"over the cap, length not announced", CannedReply::huge(1001, false)},
        {"redirect loop", CannedReply::failing(Fault::redirectLoop)},
    };
    for (const Case& c : cases) {
        HttpServer server({c.reply});
        EXPECT_EQ(fetch(quick, "POST", server.origin() + "/", "x"), "") << c.name;
        EXPECT_GE(server.requestCount(), 1u) << c.name;
    }
}

TEST_F(RequestTest, RedirectsStopAfterTheLimit) {
    HttpServer server({CannedReply::failing(Fault::redirectLoop)});
    EXPECT_EQ(fetch({}, "GET", server.origin() + "/loop"), "");
    EXPECT_EQ(server.requestCount(), 6u);  // the first request and five redirects
}

TEST_F(RequestTest, BodyUpToTheCapIsKept) {
    RequestPolicy policy;
    policy.maxBodyBytes = 1000;
    for (bool announced : {true, false}) {
        HttpServer server({CannedReply::huge(1000, announced)});
        EXPECT_EQ(fetch(policy, "GET", server.origin() + "/"), std::string(1000, 'x'));
    }
}

TEST_F(RequestTest, DefaultCapRefusesALargerBody) {
    for (bool announced : {true, false}) {
        HttpServer server({CannedReply::huge(RequestPolicy{}.maxBodyBytes + 1, announced)});
        EXPECT_EQ(fetch({}, "GET", server.origin() + "/"), "") << announced;
    }
}

TEST_F(RequestTest, RefusedConnectionGivesAnEmptyBody) {
    RefusingPort port;
    EXPECT_EQ(fetch({}, "POST", "http://127.0.0.1:" + std::to_string(port.port()) + "/", "x"), "");
}

TEST_F(RequestTest, UnsupportedMethodSendsNothing) {
    HttpServer server({CannedReply::ok("no")});
    EXPECT_EQ(fetch({}, "PUT", server.origin() + "/", "x"), "");
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RequestTest, TlsWithTheTrustedAuthority) {
    HttpServer server(TestCertificates::trusted().server(), {CannedReply::ok("secure")});
    RequestPolicy policy;
    policy.caFile = TestCertificates::trusted().caFile();
    const std::string url = server.origin() + "/Tools/dig_trace/";
    EXPECT_EQ(fetch(policy, "POST", url, "host=a"), "secure");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Referer"), url);
    EXPECT_EQ(requests[0].body, "host=a");
}

TEST_F(RequestTest, UntrustedCertificateFailsTheRequest) {
    RequestPolicy trustsTestCa;
    trustsTestCa.caFile = TestCertificates::trusted().caFile();
    {
        HttpServer stranger(TestCertificates::untrusted().server(), {CannedReply::ok("no")});
        EXPECT_EQ(fetch(trustsTestCa, "POST", stranger.origin() + "/", "x"), "");
        EXPECT_EQ(stranger.requestCount(), 0u);
    }
    {
        // The system's trust store does not know the test authority.
        HttpServer server(TestCertificates::trusted().server(), {CannedReply::ok("no")});
        EXPECT_EQ(fetch({}, "POST", server.origin() + "/", "x"), "");
        EXPECT_EQ(server.requestCount(), 0u);
    }
    {
        // A trusted certificate for 127.0.0.1 does not stand for another host name.
        HttpServer server(TestCertificates::trusted().server(), {CannedReply::ok("no")});
        const std::string url = "https://localhost:" + std::to_string(server.port()) + "/";
        EXPECT_EQ(fetch(trustsTestCa, "POST", url, "x"), "");
        EXPECT_EQ(server.requestCount(), 0u);
    }
}

// The run keeps one cookie store, as a system's HTTP stack does: a cookie that a reply sets
// goes with later requests to that host, also from a new request object, and to no other
// host. Nothing of it is written to disk.
TEST_F(RequestTest, CookiesLastForTheRunAndStayWithTheirHost) {
    const testing::ForgetCookies cookiesOfThisTestOnly;
    CannedReply setsSession = CannedReply::ok("first");
    setsSession.headers = {"Set-Cookie: ASP.NET_SessionId=abc123; path=/; HttpOnly"};
    HttpServer server({setsSession, CannedReply::ok("second"), CannedReply::ok("third")});
    fetch({}, "POST", server.origin() + "/lookup-dg.aspx", "a");
    fetch({}, "POST", server.origin() + "/lookup-dg.aspx", "b");
    // The same server under another host name is another site.
    fetch({}, "GET", "http://localhost:" + std::to_string(server.port()) + "/");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("Cookie"), "");
    EXPECT_EQ(requests[1].header("Cookie"), "ASP.NET_SessionId=abc123");
    EXPECT_EQ(requests[2].header("Cookie"), "");
}

// Fifty lookups at once set and send cookies through the one store (ThreadSanitizer checks
// the locking in its build).
TEST_F(RequestTest, ManyRequestsShareTheCookieStore) {
    const testing::ForgetCookies cookiesOfThisTestOnly;
    CannedReply setsCookie = CannedReply::ok("ok");
    setsCookie.headers = {"Set-Cookie: visit=1; path=/"};
    HttpServer server;
    server.setFallback(setsCookie);
    std::vector<std::thread> lookups;
    std::atomic<int> answered{0};
    for (int i = 0; i < 50; ++i) {
        lookups.emplace_back([&, i] {
            const std::string url = server.origin() + "/page" + std::to_string(i);
            for (int n = 0; n < 2; ++n) {
                if (fetch({}, "POST", url, "x") == "ok") {
                    ++answered;
                }
            }
        });
    }
    for (std::thread& lookup : lookups) {
        lookup.join();
    }
    EXPECT_EQ(answered, 100);
    std::size_t withCookie = 0;
    for (const auto& request : server.requests()) {
        withCookie += request.header("Cookie") == "visit=1" ? 1 : 0;
    }
    // Every lookup's second request comes after its first reply set the cookie.
    EXPECT_GE(withCookie, 50u);
}

}  // namespace
}  // namespace tessaly
