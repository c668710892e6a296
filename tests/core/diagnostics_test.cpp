// The diagnostics say why a lookup ended as it did, and change nothing that it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/chains.h"
#include "support/http_server.h"
#include "support/loopback_endpoints.h"
#include "support/memory_ports.h"
#include "support/recording_log.h"
#include "trace/trace_services.h"

namespace tessaly {
namespace {

using testing::CannedReply;
using testing::HttpServer;
using testing::MemoryOutputBox;
using testing::RecordingLog;

bool anyLineHas(const std::vector<std::string>& lines, std::initializer_list<const char*> parts) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return std::all_of(parts.begin(), parts.end(),
                           [&](const char* part) { return line.find(part) != std::string::npos; });
    });
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += line + "\n";
    }
    return out;
}

// A trace service whose request fails and one whose reply lacks the trace: each leaves a
// line naming the service and the reason, and the box gets exactly what it gets without
// the diagnostics.
TEST(Diagnostics, AFailingTraceServiceSaysWhichAndWhy) {
    initRequests();
    testing::RefusingPort refusing;
    HttpServer noTrace({CannedReply::ok("<html>busy</html>", 503)});
    Endpoints endpoints =
        testing::endpointsAt("http://127.0.0.1:" + std::to_string(refusing.port()));
    endpoints.traceServiceB.origin = noTrace.origin();

    RecordingLog log;
    MemoryOutputBox box(busyText);
    testing::UnreachableWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    Text domain = "example.com";

    traceServiceA(domain, context);
    EXPECT_EQ(box.readText(), unknownText);
    const auto trace = log.lines(LogTopic::trace);
    EXPECT_TRUE(anyLineHas(trace, {"traceServiceA", "the request failed", "onnect"}))
        << joined(trace);
    const auto http = log.lines(LogTopic::http);
    EXPECT_TRUE(anyLineHas(http, {"POST", endpoints.traceServiceA.url().c_str(), "failed"}))
        << joined(http);

    traceServiceB(domain, context);
    EXPECT_EQ(box.readText(), unknownText);
    EXPECT_TRUE(anyLineHas(log.lines(LogTopic::trace),
                           {"traceServiceB", "status 503", "without the trace's markers"}))
        << joined(log.lines(LogTopic::trace));
}

// The chain says which step ran and why a step was skipped.
TEST(Diagnostics, TheChainSaysWhichStepsRanAndWhy) {
    initRequests();
    testing::RefusingPort refusing;
    const Endpoints endpoints =
        testing::endpointsAt("http://127.0.0.1:" + std::to_string(refusing.port()));
    RecordingLog log;
    MemoryOutputBox box(unknownText);
    testing::MemoryDomainBox domainBox("www.example.xyz");
    testing::UnreachableWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    runWhoisLookup(domainBox, context);

    const auto chain = log.lines(LogTopic::chain);
    EXPECT_TRUE(anyLineHas(chain, {"queryWhoisServer runs"})) << joined(chain);
    EXPECT_TRUE(anyLineHas(chain, {"webWhoisServiceA runs"})) << joined(chain);
    // Service A emptied the box, so B's test fails.
    EXPECT_TRUE(anyLineHas(chain, {"webWhoisServiceB skipped", "\"\" (0 bytes)"})) << joined(chain);
    EXPECT_TRUE(anyLineHas(log.lines(LogTopic::whois), {"no server in the table", "xyz"}))
        << joined(log.lines(LogTopic::whois));
}

// Without a sink nothing is formatted or written, and the steps behave the same.
TEST(Diagnostics, SilentWithoutASink) {
    EXPECT_EQ(logSinkFor(LogTopic::chain), nullptr);
    EXPECT_EQ(logSinkFor(LogTopic::http), nullptr);
}

}  // namespace
}  // namespace tessaly
