// The WHOIS step on loopback: the names given resolve to 127.0.0.1 and every other name to
// nothing, the whois port is the test server's, the step's client is a loopback client, and
// the run's memory is the fixture's. It records every name the client looked up.
#pragma once

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "lookup/memory.h"
#include "lookup/step.h"
#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "whois/whois_query.h"

namespace tessaly::testing {

struct WhoisQueryFixture {
    MemoryOutputBox box{"before"};
    std::mutex mutex;
    std::vector<std::string> hostsAsked;
    std::set<std::string, std::less<>> loopbackHosts;
    LoopbackWhoisConnection client;
    Endpoints endpoints;
    RunMemory memory;
    LookupContext context{box, client, endpoints, &memory};

    WhoisQueryFixture(int whoisPort, std::set<std::string, std::less<>> hosts,
                      std::chrono::milliseconds timeout = whoisConnectTimeout)
        : loopbackHosts(std::move(hosts)),
          client(
              box,
              [this](std::string_view host) {
                  std::lock_guard lock(mutex);
                  hostsAsked.emplace_back(host);
                  return loopbackHosts.count(host) != 0 ? Text("127.0.0.1") : Text();
              },
              timeout) {
        endpoints.whoisPort = whoisPort;
    }

    // Runs the step on typed and gives the domain it leaves.
    Text query(std::string typed) {
        Text domain = std::move(typed);
        queryWhoisServer(domain, context);
        return domain;
    }
    std::vector<std::string> asked() {
        std::lock_guard lock(mutex);
        return hostsAsked;
    }
};

}  // namespace tessaly::testing
