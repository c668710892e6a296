// The WHOIS step on loopback, from its start to its query line sent: for a top-level domain
// of the table (one connect), and for one the table lacks, whose server IANA names (an
// exchange with IANA first, then the connect), the first time and again once the run
// remembers IANA's answer. Both servers are the tests' loopback TCP servers.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "support/tcp_server.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using testing::TcpScript;
using testing::TcpServer;

std::string ianaDevAnswer() {
    std::ifstream file(TESSALY_TEST_DATA "/iana/dev.txt", std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

struct Loopback {
    TcpServer iana{{TcpScript::answer({{ianaDevAnswer()}})}};
    TcpServer registry{{TcpScript::answer({{"Domain Name: example\n"}})}};
    testing::MemoryOutputBox box;
    testing::LoopbackWhoisConnection client{
        box, [](std::string_view host) {
            return host == "whois.nic.google" || host == registrarWhoisHost ? Text("127.0.0.1")
                                                                            : Text();
        }};
    Endpoints endpoints;
    Loopback() {
        endpoints.ianaWhois = {"127.0.0.1", iana.port()};
        endpoints.whoisPort = registry.port();
    }
    void query(std::string typed, RunMemory* memory) {
        LookupContext context{box, client, endpoints, memory};
        Text domain = std::move(typed);
        queryWhoisServer(domain, context);
    }
};

void BM_WhoisTableServer(benchmark::State& state) {
    Loopback loopback;
    for (auto _ : state) {
        loopback.query("www.example.com", nullptr);
    }
    state.counters["iana_exchanges"] = benchmark::Counter(
        static_cast<double>(loopback.iana.connections()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WhoisTableServer)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_WhoisReferralFirstLookup(benchmark::State& state) {
    Loopback loopback;
    for (auto _ : state) {
        RunMemory fresh;  // a new run: IANA is asked
        loopback.query("www.example.dev", &fresh);
    }
    state.counters["iana_exchanges"] = benchmark::Counter(
        static_cast<double>(loopback.iana.connections()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WhoisReferralFirstLookup)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_WhoisReferralSecondLookup(benchmark::State& state) {
    Loopback loopback;
    RunMemory memory;
    loopback.query("www.example.dev", &memory);
    for (auto _ : state) {
        loopback.query("www.example.dev", &memory);
    }
    state.counters["iana_exchanges"] = benchmark::Counter(
        static_cast<double>(loopback.iana.connections()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WhoisReferralSecondLookup)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaly
