// Failing servers against every lookup step, on loopback: each step returns, writes what it
// writes for a failure (once), and nothing crashes. The time each took is printed for the
// record in RELIABILITY.md; no test asserts a speed.
//
// TCP: a WHOIS server that never answers, resets in the middle of its answer or trickles
// one byte a second, and a host that does not resolve. HTTP, for the four trace services,
// both web WHOIS services and the update check: a server that never answers, closes before
// its headers end, announces a wrong Content-Length, breaks its chunked encoding, sends a
// body over the cap, redirects in a loop or shows an untrusted certificate; a port that
// refuses; a name that does not resolve.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/chains.h"
#include "net/request.h"
#include "net/tcp_connect.h"
#include "support/http_server.h"
#include "support/loopback_endpoints.h"
#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "support/offline_names.h"
#include "support/tcp_server.h"
#include "trace/trace_services.h"
#include "update/update_check.h"
#include "whois/web_whois.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::LoopbackWhoisConnection;
using testing::MemoryOutputBox;
using testing::RecordingMessageBoxes;
using testing::RefusingPort;
using testing::TcpPiece;
using testing::TcpScript;
using testing::TcpServer;
using testing::TestCertificates;
using Clock = std::chrono::steady_clock;
using Fault = CannedReply::Fault;

const Text unknown(unknownText);
const Text traceDFailed = "Loading root server list (static data):" + unknown;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto until = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// ---- WHOIS over TCP -------------------------------------------------------------------

// queryWhoisServer against a loopback server that stands for the registrar's host.
struct WhoisFixture {
    MemoryOutputBox box{"earlier answer"};
    LoopbackWhoisConnection client;
    Endpoints endpoints;
    LookupContext context{box, client, endpoints};

    explicit WhoisFixture(int port, HostResolver resolver = loopbackRegistrar())
        : client(box, std::move(resolver), 2s) {
        endpoints.whoisPort = port;
    }
    static HostResolver loopbackRegistrar() {
        return [](std::string_view host) {
            return host == registrarWhoisHost ? Text("127.0.0.1") : Text();
        };
    }
    // The step's own time: it returns once its line is sent or its connect failed.
    double query(std::string typed = "www.example.com") {
        Text domain = std::move(typed);
        const auto start = Clock::now();
        queryWhoisServer(domain, context);
        return msSince(start);
    }
};

TEST(WhoisFaults, ServerThatNeverAnswersLeavesTheBusyText) {
    TcpServer server({TcpScript::neverAnswer()});
    WhoisFixture fixture(server.port());
    const double ms = fixture.query();
    ASSERT_TRUE(server.waitForReceived(0, "example.com\n\r"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fixture.box.readText(), busyText);
    EXPECT_EQ(fixture.client.arrivals(), 0u);
    std::printf("whois never answers: step returned after %.1f ms\n", ms);
}

TEST(WhoisFaults, ResetInTheMiddleKeepsWhatArrived) {
    TcpServer server({TcpScript::resetAfter({{"Domain Name: EXAMPLE.COM\n"}, {"", 0ms, true}})});
    WhoisFixture fixture(server.port());
    const double ms = fixture.query();
    ASSERT_TRUE(eventually([&] { return fixture.client.arrivals() == 1; }));
    server.release(0);  // now the reset
    EXPECT_TRUE(fixture.client.waitForServerClose());
    EXPECT_EQ(fixture.box.readText(), "Domain Name: EXAMPLE.COM\r\n");
    std::printf("whois reset mid-answer: step returned after %.1f ms\n", ms);
}

TEST(WhoisFaults, TricklingServerIsShownByteByByte) {
    TcpServer server({TcpScript::trickle("ok\n", 1000ms)});
    WhoisFixture fixture(server.port());
    const double ms = fixture.query();
    // The step does not wait for the answer: the box still holds the busy text.
    EXPECT_EQ(fixture.box.readText(), busyText);
    ASSERT_TRUE(fixture.client.waitForServerClose(10s));
    EXPECT_EQ(fixture.box.readText(), "ok\r\n");
    EXPECT_EQ(fixture.client.arrivals(), 3u);
    std::printf("whois trickle: step returned after %.1f ms\n", ms);
}

TEST(WhoisFaults, HostThatDoesNotResolveLeavesTheBox) {
    testing::keepInvalidNamesLocal();
    const std::size_t before = testing::invalidNamesAnswered();
    // The registrar's host stands for a name under .invalid, looked up by the system.
    WhoisFixture fixture(43, [](std::string_view host) {
        return host == registrarWhoisHost ? resolveIpv4("whois.tessaly-test.invalid", 10s) : Text();
    });
    const double ms = fixture.query();
    EXPECT_EQ(fixture.box.readText(), "earlier answer");
    EXPECT_TRUE(fixture.box.log().empty());
    EXPECT_GT(testing::invalidNamesAnswered(), before);
    // And without a resolver of the test's: the system's lookup in openTcpConnection.
    const auto start = Clock::now();
    EXPECT_EQ(openTcpConnection("tessaly-test.invalid", 43, 10s), -1);
    std::printf("whois host under .invalid: step %.1f ms, connect %.1f ms\n", ms, msSince(start));
}

// ---- the web steps --------------------------------------------------------------------

// What a step writes when its request fails: the one write of the box, or (update check)
// whether a box is shown.
struct WebStep {
    const char* name;
    std::function<void(const Endpoints&, MemoryOutputBox&, RecordingMessageBoxes&)> run;
    Text written;  // what the box ends with
};

std::vector<WebStep> webSteps() {
    auto step = [](LookupStep s) {
        return [s](const Endpoints& e, MemoryOutputBox& box, RecordingMessageBoxes&) {
            testing::UnreachableWhoisConnection whois;
            LookupContext context{box, whois, e};
            Text domain = "example.com";
            s(domain, context);
        };
    };
    return {
        {"trace A", step(traceServiceA), unknown},
        {"trace B", step(traceServiceB), unknown},
        {"trace C", step(traceServiceC), unknown},
        {"trace D", step(traceServiceD), traceDFailed},
        {"web whois A", step(webWhoisServiceA), Text()},
        {"web whois B", step(webWhoisServiceB), Text()},
        {"update check",
         [](const Endpoints& e, MemoryOutputBox&, RecordingMessageBoxes& boxes) {
             appVersion = "1.10";
             checkForUpdate(e, boxes);
             releaseAppVersion();
         },
         Text(busyText)},
    };
}

Endpoints everyStepAt(const std::string& origin) {
    Endpoints e = testing::endpointsAt(origin);
    e.requestPolicy.connectTimeoutMs = 1'000;
    e.requestPolicy.totalTimeoutMs = 300;
    e.requestPolicy.maxBodyBytes = 1u << 20;
    e.requestPolicy.caFile = TestCertificates::trusted().caFile();
    return e;
}

// A loopback origin that fails every request in one way.
struct FailingOrigin {
    const char* name;
    std::function<std::string(std::unique_ptr<HttpServer>&, std::unique_ptr<TcpServer>&,
                              std::unique_ptr<RefusingPort>&)>
        start;
};

std::string withFallback(std::unique_ptr<HttpServer>& http, CannedReply reply) {
    http = std::make_unique<HttpServer>();
    http->setFallback(std::move(reply));
    return http->origin();
}

const FailingOrigin failingOrigins[] = {
    {"never answers",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::failing(Fault::neverAnswer));
     }},
    {"closes before the headers end",
     [](auto&, auto& tcp, auto&) {
         tcp = std::make_unique<TcpServer>(
             std::vector<TcpScript>{TcpScript::answer({{"HTTP/1.1 200 OK\r\nContent-Type: te"}})});
         return "http://127.0.0.1:" + std::to_string(tcp->port());
     }},
    {"wrong Content-Length",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::failing(Fault::wrongContentLength));
     }},
    {"broken chunked encoding",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::failing(Fault::brokenChunked));
     }},
    {"body over the cap",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::huge((1u << 20) + 1));
     }},
    {"body over the cap, length not announced",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::huge((1u << 20) + 1, false));
     }},
    {"redirect loop",
     [](auto& http, auto&, auto&) {
         return withFallback(http, CannedReply::failing(Fault::redirectLoop));
     }},
    {"untrusted certificate",
     [](auto& http, auto&, auto&) {
         http = std::make_unique<HttpServer>(TestCertificates::untrusted().server());
         // The reply a step would show, were the certificate accepted.
         http->setFallback(CannedReply::ok("9.9 <pre>9.9</pre>"));
         return http->origin();
     }},
    {"refused connection",
     [](auto&, auto&, auto& refusing) {
         refusing = std::make_unique<RefusingPort>();
         return "http://127.0.0.1:" + std::to_string(refusing->port());
     }},
    {"name does not resolve",
     [](auto&, auto&, auto&) {
         testing::keepInvalidNamesLocal();
         return std::string("http://www.tessaly-test.invalid");
     }},
};

class WebFaults : public ::testing::TestWithParam<FailingOrigin> {
protected:
    static void SetUpTestSuite() { initRequests(); }
};

TEST_P(WebFaults, EveryStepWritesItsFailureOnce) {
    const FailingOrigin& origin = GetParam();
    std::unique_ptr<HttpServer> http;
    std::unique_ptr<TcpServer> tcp;
    std::unique_ptr<RefusingPort> refusing;
    const Endpoints endpoints = everyStepAt(origin.start(http, tcp, refusing));
    const std::size_t invalidBefore = testing::invalidNamesAnswered();

    std::string figures;
    for (const WebStep& step : webSteps()) {
        MemoryOutputBox box(busyText);
        RecordingMessageBoxes boxes;
        const auto start = Clock::now();
        step.run(endpoints, box, boxes);
        figures +=
            std::string(step.name) + " " + std::to_string(std::lround(msSince(start))) + " ms; ";

        EXPECT_EQ(box.readText(), step.written) << step.name;
        const bool writes = std::string(step.name) != "update check";
        EXPECT_EQ(box.log().size(), writes ? 1u : 0u) << step.name;
        EXPECT_TRUE(boxes.shown().empty()) << step.name;
    }
    if (http && std::string(origin.name) == "untrusted certificate") {
        EXPECT_EQ(http->requestCount(), 0u);
    }
    if (std::string(origin.name) == "name does not resolve") {
        EXPECT_GT(testing::invalidNamesAnswered(), invalidBefore);
    }
    std::printf("web fault %s: %s\n", origin.name, figures.c_str());
}

std::string faultName(const ::testing::TestParamInfo<FailingOrigin>& info) {
    std::string name;
    for (const char* c = info.param.name; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Loopback, WebFaults, ::testing::ValuesIn(failingOrigins), faultName);

}  // namespace
}  // namespace tessaly
