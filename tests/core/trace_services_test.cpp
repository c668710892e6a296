// The four trace services against loopback servers: each case file under data/trace holds
// the domain, the replies served, the requests expected byte for byte and the text the
// output box must end with. Failures of the request and the whole chain follow in code.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/chains.h"
#include "base/version.h"
#include "net/request.h"
#include "support/case_exchange.h"
#include "support/case_file.h"
#include "support/http_server.h"
#include "support/loopback_endpoints.h"
#include "support/memory_ports.h"
#include "text/extract.h"
#include "trace/pause.h"
#include "trace/trace_services.h"

namespace tessaly {
namespace {

using testing::CannedReply;
using testing::CaseFile;
using testing::HttpServer;
using testing::MemoryDomainBox;
using testing::MemoryOutputBox;
using testing::RecordedRequest;
using testing::RefusingPort;
using testing::TestCertificates;
using Fault = CannedReply::Fault;

const std::string prefixD = "Loading root server list (static data):";

// The trace chain never touches the TCP client.
using NoWhoisConnection = testing::UnreachableWhoisConnection;

// Trace service A on a TLS server, B to D sharing one plain server (they differ by path).
struct TraceServers {
    TraceServers() { initRequests(); }

    Endpoints endpoints(long totalTimeoutMs = 5'000) const {
        Endpoints e = testing::endpointsAt(plain.origin());
        e.traceServiceA.origin = serviceA.origin();
        e.requestPolicy.caFile = TestCertificates::trusted().caFile();
        e.requestPolicy.connectTimeoutMs = 2'000;
        e.requestPolicy.totalTimeoutMs = totalTimeoutMs;
        return e;
    }

    HttpServer serviceA{TestCertificates::trusted().server()};
    HttpServer plain;
};

struct Service {
    LookupStep step;
    bool onTls;
};

Service serviceNamed(const std::string& name) {
    if (name == "A")
        return {traceServiceA, true};
    if (name == "B")
        return {traceServiceB, false};
    if (name == "C")
        return {traceServiceC, false};
    if (name == "D")
        return {traceServiceD, false};
    throw std::runtime_error("unknown service " + name);
}

class TraceCase : public ::testing::TestWithParam<std::string> {};

TEST_P(TraceCase, RequestsAndWrittenText) {
    const CaseFile file = testing::readCaseFile(GetParam());
    const testing::ForgetCookies cookiesOfThisCaseOnly;
    TraceServers servers;
    const Service service = serviceNamed(testing::clientValue(file, "service"));
    HttpServer& server = service.onTls ? servers.serviceA : servers.plain;
    const Endpoints endpoints = servers.endpoints();
    const testing::CaseVariables variables = {
        {"HOST", server.hostHeader()},
        {"VERSION", std::string(tessalyVersion)},
        {"RESOLVER", endpoints.traceResolver},
        {"VIEWSTATE", endpoints.traceServiceDViewState},
        {"EVENTVALIDATION", endpoints.traceServiceDEventValidation},
    };
    server.setScript(testing::replyScriptOf(file, variables));
    const std::vector<std::string> expected = testing::expectedRequestsOf(file, variables);

    const Text typed = testing::clientValue(file, "domain");
    Text domain = typed;
    MemoryOutputBox box(busyText);
    NoWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    service.step(domain, context);

    const std::vector<RecordedRequest> requests = server.requests();
    ASSERT_EQ(requests.size(), expected.size()) << file.path;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].raw(), expected[i]) << file.path << ", request " << i + 1;
    }
    EXPECT_EQ(box.readText(), testing::expectedOutputOf(file)) << file.path;
    const auto log = box.log();
    ASSERT_EQ(log.size(), 1u) << file.path << ": the step writes once";
    EXPECT_EQ(log[0].first, "set");
    EXPECT_EQ(domain, typed) << "the step leaves the domain alone";
    EXPECT_EQ(whois.calls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, TraceCase,
                         ::testing::ValuesIn(testing::listCaseFiles(TESSALY_TEST_DATA "/trace")),
                         testing::caseTestName<::testing::TestParamInfo<std::string>>);

// A failed request hands the step an empty body: A to C write 未知, D retries five times
// and writes the prefix followed by 未知.
TEST(TraceServiceFailures, EveryFailedRequestGivesTheFailureText) {
    struct Failure {
        const char* name;
        CannedReply reply;
    } failures[] = {
        {"never answers", CannedReply::failing(Fault::neverAnswer)},
        {"closes early", CannedReply::failing(Fault::closeEarly)},
        {"body over the cap", CannedReply::huge(RequestPolicy{}.maxBodyBytes + 1)},
        {"redirect loop", CannedReply::failing(Fault::redirectLoop)},
    };
    const struct {
        const char* name;
        LookupStep step;
        std::size_t requests;
        Text written;
    } services[] = {
        {"A", traceServiceA, 1, Text(unknownText)},
        {"B", traceServiceB, 1, Text(unknownText)},
        {"C", traceServiceC, 1, Text(unknownText)},
        {"D", traceServiceD, 12, prefixD + Text(unknownText)},
    };
    for (const auto& failure : failures) {
        for (const auto& service : services) {
            TraceServers servers;
            servers.serviceA.setFallback(failure.reply);
            servers.plain.setFallback(failure.reply);
            const Endpoints endpoints = servers.endpoints(300);
            MemoryOutputBox box(busyText);
            NoWhoisConnection whois;
            LookupContext context{box, whois, endpoints};
            Text domain = "example.com";
            service.step(domain, context);
            EXPECT_EQ(box.readText(), service.written) << service.name << ": " << failure.name;
            EXPECT_EQ(box.log().size(), 1u) << service.name << ": " << failure.name;
            const std::size_t asked = service.step == traceServiceA
                                          ? servers.serviceA.requestCount()
                                          : servers.plain.requestCount();
            // A redirect loop makes six requests of each one the step sends.
            const std::size_t perRequest = failure.reply.fault == Fault::redirectLoop ? 6 : 1;
            EXPECT_EQ(asked, service.requests * perRequest) << service.name << ": " << failure.name;
        }
    }
}

TEST(TraceServiceFailures, RefusedConnectionsAndUntrustedCertificate) {
    RefusingPort refusing;
    const std::string dead = "http://127.0.0.1:" + std::to_string(refusing.port());
    HttpServer stranger(TestCertificates::untrusted().server(), {CannedReply::ok("{}")});
    Endpoints endpoints = testing::endpointsAt(dead);
    endpoints.traceServiceA.origin = stranger.origin();
    endpoints.requestPolicy.caFile = TestCertificates::trusted().caFile();
    initRequests();

    MemoryOutputBox box(busyText);
    NoWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    Text domain = "example.com";
    for (LookupStep step : {traceServiceA, traceServiceB, traceServiceC}) {
        step(domain, context);
        EXPECT_EQ(box.readText(), unknownText);
    }
    traceServiceD(domain, context);
    EXPECT_EQ(box.readText(), prefixD + Text(unknownText));
    EXPECT_EQ(stranger.requestCount(), 0u);
}

// ---- the whole trace chain ----------------------------------------------------------

const std::string goodA = R"({"info": "\nA trace\n"})";
const std::string goodB = "hostnames.focus();\n<b>B</b> trace\n</pre>";
const std::string noMarker = "<html>nothing here</html>";
const std::string pageD = R"(<input name="__VIEWSTATE" id="__VIEWSTATE" value="vs" />)";
const std::string goodD = "(static data):<br/>D trace<br/>Trace DNS Delegation";

struct ChainRun {
    std::vector<std::pair<std::string, Text>> log;
    std::vector<RecordedRequest> serviceA;
    std::vector<RecordedRequest> plain;
};

ChainRun runTraceChain(const std::string& replyA, std::vector<CannedReply> plainScript) {
    TraceServers servers;
    servers.serviceA.setScript({CannedReply::ok(replyA)});
    servers.plain.setScript(std::move(plainScript));
    const Endpoints endpoints = servers.endpoints();
    MemoryDomainBox domainBox("example.com");
    MemoryOutputBox box;
    NoWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    runDigTrace(domainBox, context);
    return {box.log(), servers.serviceA.requests(), servers.plain.requests()};
}

using Log = std::vector<std::pair<std::string, Text>>;

TEST(TraceChain, FirstServiceSucceedsAndNothingElseIsAsked) {
    const ChainRun run = runTraceChain(goodA, {});
    EXPECT_EQ(run.log, (Log{{"set", Text(busyText)}, {"set", "A trace\r\n"}}));
    EXPECT_EQ(run.serviceA.size(), 1u);
    EXPECT_TRUE(run.plain.empty());
}

TEST(TraceChain, FirstServiceFailsAndTheSecondSucceeds) {
    const ChainRun run = runTraceChain(noMarker, {CannedReply::ok(goodB)});
    EXPECT_EQ(run.log,
              (Log{{"set", Text(busyText)}, {"set", Text(unknownText)}, {"set", "B trace\r\n"}}));
    ASSERT_EQ(run.plain.size(), 1u);
    EXPECT_EQ(run.plain[0].method, "GET");
}

TEST(TraceChain, FirstThreeFailAndTheFourthRuns) {
    const ChainRun run =
        runTraceChain(noMarker, {CannedReply::ok(noMarker), CannedReply::ok(noMarker),
                                 CannedReply::ok(pageD), CannedReply::ok(goodD)});
    EXPECT_EQ(run.log, (Log{{"set", Text(busyText)},
                            {"set", Text(unknownText)},
                            {"set", Text(unknownText)},
                            {"set", Text(unknownText)},
                            {"set", prefixD + "\r\nD trace\r\n"}}));
    ASSERT_EQ(run.plain.size(), 4u);
    EXPECT_EQ(run.plain[1].target, "/services/dig.php");
    EXPECT_EQ(run.plain[2].target, "/lookup-dg.aspx");
    EXPECT_NE(run.plain[3].body.find("&__VIEWSTATE=vs&"), std::string::npos);
}

// ---- the pause between service D's postbacks ------------------------------------------

// Start markers that each open a piece running to one shared end marker: the pieces overlap
// and would add up to terabytes if they were all collected; only the first one is wanted.
TEST(TraceServiceReplies, OverlappingPiecesCostNoMoreThanTheFirst) {
    std::string body;
    for (int i = 0; i < 1'000'000; ++i) {
        body += "<pre>";
    }
    body += "x</pre>";
    EXPECT_EQ(traceServiceCResult(body), body.substr(5, body.size() - 11));
    std::string focus;
    for (int i = 0; i < 500'000; ++i) {
        focus += "hostnames.focus";
    }
    EXPECT_EQ(traceServiceBResult(focus + "</pre>"), stripTags(focus.substr(15)));
}

TEST(PauseWithEvents, HandlesPendingEventsBeforeAndAfterThePause) {
    int handled = 0;
    const auto start = std::chrono::steady_clock::now();
    pauseWithEvents(5, [&handled] { ++handled; });
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
    EXPECT_EQ(handled, 2);
}

TEST(PauseWithEvents, NegativeOrZeroGivesNoPauseAndStillHandlesEvents) {
    for (int ms : {-5, 0}) {
        int handled = 0;
        pauseWithEvents(ms, [&handled] { ++handled; });
        EXPECT_EQ(handled, 2) << ms;
    }
    pauseWithEvents(-1);  // without a handler
}

}  // namespace
}  // namespace tessaly
