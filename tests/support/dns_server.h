// Small DNS servers for the tests, on loopback addresses (127.0.53.x, ::1), UDP and TCP on
// one port. Each answers every query through a handler, which returns the messages to send
// back (none: the server stays silent); replies are made with ldns from zone-file lines.
//
//   DnsTestNetwork net;
//   net.add("127.0.53.2", [](const SeenQuery& q, const std::string& wire) {
//       return std::vector<std::string>{dnsReply(wire, {.aa = true, .answer = {...}})};
//   });
//
// Every wait inside a server is bounded, and the destructor ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessaly::testing {

// A query as a server received it.
struct SeenQuery {
    std::string name;  // canonical, final dot
    std::uint16_t type = 0;
    bool recursionDesired = false;
    bool dnssecOk = false;
    bool overTcp = false;
};

// The messages sent back for one query, each a whole DNS message (over TCP each goes with its
// length in front, then the connection is closed).
using DnsHandler =
    std::function<std::vector<std::string>(const SeenQuery& query, const std::string& wire)>;

// A reply to the query in wire form: its id and question unless told otherwise, the records
// given as zone-file lines.
struct DnsReplyParts {
    bool aa = false;
    bool tc = false;
    int rcode = 0;
    std::vector<std::string> answer{}, authority{}, additional{};
    int idOffset = 0;            // added to the query's id: a reply to another query
    std::string questionName{};  // in place of the query's name when not empty
};
std::string dnsReply(const std::string& queryWire, const DnsReplyParts& parts);

class DnsTestServer {
public:
    // Listens on address, UDP and TCP, on port (0: one that is free for both).
    DnsTestServer(std::string address, int port, DnsHandler handler);
    ~DnsTestServer();
    DnsTestServer(const DnsTestServer&) = delete;
    DnsTestServer& operator=(const DnsTestServer&) = delete;

    const std::string& address() const;
    int port() const;
    std::vector<SeenQuery> queries() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Servers on several loopback addresses that share one port, as the servers of a walk do.
class DnsTestNetwork {
public:
    DnsTestServer& add(const std::string& address, DnsHandler handler);
    int port() const { return port_; }
    // Every query any server received, in no particular order across servers.
    std::size_t totalQueries() const;

private:
    std::vector<std::unique_ptr<DnsTestServer>> servers_;
    int port_ = 0;
};

}  // namespace tessaly::testing
