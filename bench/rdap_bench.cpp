// RDAP on loopback over HTTPS (the tests' certificate authority): the WHOIS step for a domain
// whose WHOIS server refuses, from its start until the box is set. First lookup of a run:
// the bootstrap registry is fetched (1,200 names, about the size of IANA's) and the registry
// asked; a later lookup asks the registry only. And, without the network, reading the
// bootstrap registry and turning a thick answer into lines.
#include <benchmark/benchmark.h>

#include <string>

#include "net/request.h"
#include "support/case_file.h"
#include "support/http_server.h"
#include "support/memory_ports.h"
#include "whois/rdap_answer.h"
#include "whois/whois_query.h"

namespace tessaly {
namespace {

using testing::CannedReply;
using testing::HttpServer;
using testing::TestCertificates;

// A bootstrap registry of 1,200 top-level domains in 400 services, "dev" among them.
std::string bootstrapFor(const std::string& registryOrigin) {
    std::string json = R"({"version": "1.0", "publication": "2025-03-01T18:00:01Z", "services": [)";
    for (int service = 0; service < 400; ++service) {
        json += service == 0 ? "" : ",";
        json += "[[";
        for (int name = 0; name < 3; ++name) {
            json += name == 0 ? "" : ",";
            json += service == 0 && name == 0 ? "\"dev\""
                                              : "\"tld" + std::to_string(service * 3 + name) + "\"";
        }
        json +=
            "], [\"" +
            (service == 0 ? registryOrigin + "/rdap/"
                          : "https://rdap.registry" + std::to_string(service) + ".example/rdap/") +
            "\"]]";
    }
    return json + "]}";
}

// The registry's answer of the thick-registry case.
std::string thickAnswer(const std::string& registryOrigin) {
    const testing::CaseFile file =
        testing::readCaseFile(TESSALY_TEST_DATA "/rdap/thick_registry.case");
    for (const testing::CaseBlock* reply : file.all("reply")) {
        if (reply->attribute("server") == "registry") {
            return testing::sectionText(reply->sections.at(0), {{"REGISTRY", registryOrigin}});
        }
    }
    return {};
}

struct Loopback {
    Loopback() {
        initRequests();
        bootstrap.setFallback(CannedReply::ok(bootstrapFor(registry.origin())));
        registry.setFallback(CannedReply::ok(thickAnswer(registry.origin())));
        endpoints.rdapBootstrap.origin = bootstrap.origin();
        endpoints.requestPolicy.caFile = TestCertificates::trusted().caFile();
    }
    bool lookup(RunMemory& memory) {
        testing::MemoryOutputBox box;
        testing::UnreachableWhoisConnection client;
        LookupContext context{box, client, endpoints, &memory};
        Text domain = "www.example.dev";
        queryWhoisServer(domain, context);
        return box.log().size() == 1;
    }
    HttpServer bootstrap{TestCertificates::trusted().server()};
    HttpServer registry{TestCertificates::trusted().server()};
    Endpoints endpoints;
};

void BM_RdapFirstLookup(benchmark::State& state) {
    Loopback loopback;
    for (auto _ : state) {
        RunMemory fresh;
        if (!loopback.lookup(fresh)) {
            state.SkipWithError("nothing shown");
            break;
        }
    }
    state.counters["bootstrap_bytes"] =
        static_cast<double>(bootstrapFor(loopback.registry.origin()).size());
}
BENCHMARK(BM_RdapFirstLookup)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RdapLaterLookup(benchmark::State& state) {
    Loopback loopback;
    RunMemory memory;
    loopback.lookup(memory);
    for (auto _ : state) {
        if (!loopback.lookup(memory)) {
            state.SkipWithError("nothing shown");
            break;
        }
    }
}
BENCHMARK(BM_RdapLaterLookup)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RdapParseBootstrap(benchmark::State& state) {
    const std::string json = bootstrapFor("https://127.0.0.1:1");
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseRdapBootstrap(json));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_RdapParseBootstrap)->Unit(benchmark::kMicrosecond);

void BM_RdapReadThickAnswer(benchmark::State& state) {
    const std::string body = thickAnswer("https://127.0.0.1:1");
    for (auto _ : state) {
        benchmark::DoNotOptimize(readRdapAnswer(body, 200,
                                                "https://127.0.0.1:1/rdap/domain/example.dev",
                                                "example.dev", "example.dev"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_RdapReadThickAnswer)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaly
