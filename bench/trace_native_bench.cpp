// The native trace's walk on loopback: the resolver's root servers, then the root, "test." and
// "example.test." (three zones), each a small DNS server of the tests on its own 127.0.53.x
// address. One iteration is one whole walk, every reply shown in an in-memory output box.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "lookup/step.h"
#include "net/dns_client.h"
#include "support/dns_server.h"
#include "support/memory_ports.h"
#include "trace/trace_native.h"

namespace tessaly {
namespace {

using testing::DnsReplyParts;
using testing::SeenQuery;
using Messages = std::vector<std::string>;

testing::DnsHandler answering(DnsReplyParts parts) {
    return [parts](const SeenQuery&, const std::string& wire) {
        return Messages{testing::dnsReply(wire, parts)};
    };
}

void nativeTraceThreeZones(benchmark::State& state) {
    testing::DnsTestNetwork net;
    net.add("127.0.53.1", answering({.answer = {". 518400 IN NS a.root.test."},
                                     .additional = {"a.root.test. 518400 IN A 127.0.53.2"}}));
    net.add("127.0.53.2", answering({.authority = {"test. 172800 IN NS ns1.nic.test."},
                                     .additional = {"ns1.nic.test. 172800 IN A 127.0.53.3"}}));
    net.add("127.0.53.3", answering({.authority = {"example.test. 172800 IN NS ns1.example.test."},
                                     .additional = {"ns1.example.test. 172800 IN A 127.0.53.4"}}));
    net.add("127.0.53.4",
            answering({.aa = true, .answer = {"www.example.test. 300 IN A 127.0.53.80"}}));

    const std::string resolvConf = (std::filesystem::temp_directory_path() /
                                    ("tessaly-bench-resolv-" + std::to_string(::getpid())))
                                       .string();
    std::ofstream(resolvConf) << "nameserver 127.0.53.1\n";
    Endpoints endpoints;
    endpoints.nativeTrace.resolvConfPath = resolvConf;
    endpoints.nativeTrace.dnsPort = net.port();
    testing::UnreachableWhoisConnection whois;
    std::size_t shown = 0;
    for (auto _ : state) {
        testing::MemoryOutputBox box;
        LookupContext context{box, whois, endpoints};
        Text domain = "www.example.test";
        traceNative(domain, context);
        shown = box.readText().size();
        benchmark::DoNotOptimize(shown);
    }
    std::filesystem::remove(resolvConf);
    state.counters["queries"] =
        static_cast<double>(net.totalQueries()) / static_cast<double>(state.iterations());
    state.counters["bytes shown"] = static_cast<double>(shown);
}

BENCHMARK(nativeTraceThreeZones)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace tessaly
