#include "net/dns_client.h"

#include <arpa/inet.h>
#include <ldns/ldns.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace tessaly {
namespace {

using Clock = std::chrono::steady_clock;

// Owners for what ldns hands out.
struct PacketFree {
    void operator()(ldns_pkt* p) const { ldns_pkt_free(p); }
};
struct RdfFree {
    void operator()(ldns_rdf* r) const { ldns_rdf_deep_free(r); }
};
struct RrFree {
    void operator()(ldns_rr* r) const { ldns_rr_free(r); }
};
using Packet = std::unique_ptr<ldns_pkt, PacketFree>;
using Rdf = std::unique_ptr<ldns_rdf, RdfFree>;
using Rr = std::unique_ptr<ldns_rr, RrFree>;

// A string ldns allocated, taken over and freed.
std::string takeString(char* s) {
    if (s == nullptr) {
        return std::string();
    }
    std::string out(s);
    std::free(s);
    return out;
}

// Presentation text as the box may show it: printable ASCII and tabs, anything else as a
// \DDD escape (ldns escapes such bytes itself; this keeps it so whatever the data).
std::string printableAscii(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
            out += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\%03u", byte);
            out += escaped;
        }
    }
    return out;
}

std::string canonicalOf(const ldns_rdf* name) {
    if (name == nullptr || ldns_rdf_get_type(name) != LDNS_RDF_TYPE_DNAME) {
        return std::string();
    }
    const Rdf copy(ldns_rdf_clone(name));
    if (!copy) {
        return std::string();
    }
    ldns_dname2canonical(copy.get());
    return printableAscii(takeString(ldns_rdf2str(copy.get())));
}

DnsRecord recordOf(const ldns_rr* rr) {
    DnsRecord record;
    record.owner = canonicalOf(ldns_rr_owner(rr));
    record.type = static_cast<std::uint16_t>(ldns_rr_get_type(rr));
    record.ttl = ldns_rr_ttl(rr);
    if (ldns_rr_rd_count(rr) > 0) {
        const ldns_rdf* first = ldns_rr_rdf(rr, 0);
        if (first != nullptr) {
            record.target = ldns_rdf_get_type(first) == LDNS_RDF_TYPE_DNAME
                                ? canonicalOf(first)
                                : printableAscii(takeString(ldns_rdf2str(first)));
        }
    }
    std::string line = takeString(ldns_rr2str(rr));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    record.presentation = line.empty() ? "; a record ldns cannot present" : printableAscii(line);
    return record;
}

std::vector<DnsRecord> recordsOf(const ldns_rr_list* list) {
    std::vector<DnsRecord> records;
    if (list == nullptr) {
        return records;
    }
    const std::size_t count = ldns_rr_list_rr_count(list);
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (const ldns_rr* rr = ldns_rr_list_rr(list, i)) {
            records.push_back(recordOf(rr));
        }
    }
    return records;
}

Rdf nameOf(std::string_view text) {
    const std::string s(text);
    if (s.empty() || s.find('\0') != std::string::npos) {
        return nullptr;
    }
    return Rdf(ldns_dname_new_frm_str(s.c_str()));
}

std::uint16_t randomId() {
    std::uint16_t id = 0;
    if (getrandom(&id, sizeof id, 0) == static_cast<ssize_t>(sizeof id)) {
        return id;
    }
    static thread_local std::mt19937 fallback{std::random_device{}()};
    return static_cast<std::uint16_t>(fallback());
}

std::string errorName(int error) {
    const char* name = strerrordesc_np(error);
    return name != nullptr ? name : "error " + std::to_string(error);
}

// The socket address of a numeric IPv4 or IPv6 address (a scope such as "%eth0" allowed).
bool socketAddress(const DnsServer& server, sockaddr_storage& out, socklen_t& length) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(server.port);
    if (server.address.find('\0') != std::string::npos ||
        getaddrinfo(server.address.c_str(), port.c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        return false;
    }
    std::memcpy(&out, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Milliseconds to the deadline, rounded up so that a wait never spins; 0 once it has passed.
int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Waits for events on fd until the deadline; false when the time ran out.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int left = msUntil(deadline);
        if (left == 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, left);
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

std::chrono::milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// One exchange over TCP, within the deadline: the two-byte length, the query, the reply.
void exchangeOverTcp(const sockaddr_storage& address, socklen_t length,
                     const std::vector<std::uint8_t>& query, std::uint16_t id,
                     const DnsQuestion& question, Clock::time_point deadline, DnsExchange& result) {
    result.overTcp = true;
    result.reply.reset();
    const Socket socket(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0) {
        result.outcome = DnsExchange::Outcome::unreachable;
        result.failure = "TCP socket: " + errorName(errno);
        return;
    }
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        if (errno != EINPROGRESS) {
            result.outcome = DnsExchange::Outcome::unreachable;
            result.failure = "TCP connect: " + errorName(errno);
            return;
        }
        if (!waitFor(socket.fd(), POLLOUT, deadline)) {
            result.outcome = DnsExchange::Outcome::timedOut;
            result.failure = "TCP connect timed out";
            return;
        }
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) {
            result.outcome = DnsExchange::Outcome::unreachable;
            result.failure = "TCP connect: " + errorName(error);
            return;
        }
    }
    std::vector<std::uint8_t> out;
    out.reserve(query.size() + 2);
    out.push_back(static_cast<std::uint8_t>(query.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(query.size() & 0xFF));
    out.insert(out.end(), query.begin(), query.end());
    for (std::size_t sent = 0; sent < out.size();) {
        const ssize_t n = ::send(socket.fd(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(socket.fd(), POLLOUT, deadline)) {
                result.outcome = DnsExchange::Outcome::timedOut;
                result.failure = "TCP send timed out";
                return;
            }
        } else {
            result.outcome = DnsExchange::Outcome::failed;
            result.failure = "TCP send: " + errorName(errno);
            return;
        }
    }
    // Reads exactly count bytes into buffer from offset on.
    auto readExactly = [&](std::vector<std::uint8_t>& buffer, std::size_t count) {
        std::size_t have = 0;
        buffer.resize(count);
        while (have < count) {
            const ssize_t n = ::recv(socket.fd(), buffer.data() + have, count - have, 0);
            if (n > 0) {
                have += static_cast<std::size_t>(n);
            } else if (n == 0) {
                result.outcome = DnsExchange::Outcome::failed;
                result.failure = "the TCP connection closed before the whole reply";
                return false;
            } else if (errno == EAGAIN || errno == EINTR) {
                if (!waitFor(socket.fd(), POLLIN, deadline)) {
                    result.outcome = DnsExchange::Outcome::timedOut;
                    result.failure = "the TCP reply did not come in time";
                    return false;
                }
            } else {
                result.outcome = errno == ECONNRESET ? DnsExchange::Outcome::failed
                                                     : DnsExchange::Outcome::unreachable;
                result.failure = "TCP receive: " + errorName(errno);
                return false;
            }
        }
        return true;
    };
    std::vector<std::uint8_t> header;
    if (!readExactly(header, 2)) {
        return;
    }
    const std::size_t size = (std::size_t{header[0]} << 8) | header[1];
    std::vector<std::uint8_t> message;
    if (!readExactly(message, size)) {
        return;
    }
    std::optional<DnsReply> reply = parseDnsReply(message.data(), message.size());
    if (!reply || !replyMatches(*reply, id, question)) {
        result.outcome = DnsExchange::Outcome::failed;
        result.failure = reply ? "the TCP reply answers another query"
                               : "the TCP reply is no DNS message ldns can read";
        return;
    }
    result.outcome = DnsExchange::Outcome::reply;
    result.reply = std::move(reply);
}

bool isNameserverAddress(const std::string& token) {
    in_addr v4{};
    in6_addr v6{};
    // An IPv6 address may carry its scope ("fe80::1%eth0").
    const std::string withoutScope = token.substr(0, token.find('%'));
    return inet_pton(AF_INET, token.c_str(), &v4) == 1 ||
           inet_pton(AF_INET6, withoutScope.c_str(), &v6) == 1;
}

}  // namespace

std::optional<DnsReply> parseDnsReply(const std::uint8_t* wire, std::size_t size) {
    if (wire == nullptr || size == 0) {
        return std::nullopt;
    }
    ldns_pkt* raw = nullptr;
    if (ldns_wire2pkt(&raw, wire, size) != LDNS_STATUS_OK || raw == nullptr) {
        if (raw != nullptr) {
            ldns_pkt_free(raw);
        }
        return std::nullopt;
    }
    const Packet packet(raw);
    DnsReply reply;
    reply.id = ldns_pkt_id(raw);
    reply.isResponse = ldns_pkt_qr(raw);
    reply.authoritative = ldns_pkt_aa(raw);
    reply.truncated = ldns_pkt_tc(raw);
    reply.rcode = (static_cast<int>(ldns_pkt_edns_extended_rcode(raw)) << 4) |
                  static_cast<int>(ldns_pkt_get_rcode(raw));
    const ldns_rr_list* question = ldns_pkt_question(raw);
    reply.questionCount = question != nullptr ? ldns_rr_list_rr_count(question) : 0;
    if (reply.questionCount > 0) {
        if (const ldns_rr* q = ldns_rr_list_rr(question, 0)) {
            reply.questionName = canonicalOf(ldns_rr_owner(q));
            reply.questionType = static_cast<std::uint16_t>(ldns_rr_get_type(q));
            reply.questionClass = static_cast<std::uint16_t>(ldns_rr_get_class(q));
        }
    }
    reply.answer = recordsOf(ldns_pkt_answer(raw));
    reply.authority = recordsOf(ldns_pkt_authority(raw));
    reply.additional = recordsOf(ldns_pkt_additional(raw));
    reply.wireBytes = size;
    return reply;
}

std::string dnsRcodeName(int rcode) {
    if (rcode >= 0 && rcode < 16) {
        const ldns_lookup_table* entry = ldns_lookup_by_id(ldns_rcodes, rcode);
        if (entry != nullptr && entry->name != nullptr) {
            return entry->name;
        }
    }
    return "RCODE" + std::to_string(rcode);
}

std::string dnsTypeName(std::uint16_t type) {
    std::string name = takeString(ldns_rr_type2str(static_cast<ldns_rr_type>(type)));
    return name.empty() ? "TYPE" + std::to_string(type) : printableAscii(name);
}

std::optional<std::string> canonicalDnsName(std::string_view name) {
    const Rdf rdf = nameOf(name);
    if (!rdf) {
        return std::nullopt;
    }
    std::string canonical = canonicalOf(rdf.get());
    if (canonical.empty()) {
        return std::nullopt;
    }
    return canonical;
}

bool dnsNameIsAtOrBelow(std::string_view name, std::string_view zone) {
    const Rdf n = nameOf(name);
    const Rdf z = nameOf(zone);
    if (!n || !z) {
        return false;
    }
    return ldns_dname_compare(n.get(), z.get()) == 0 || ldns_dname_is_subdomain(n.get(), z.get());
}

std::vector<DnsRecord> parseZoneRecords(std::string_view text) {
    std::vector<DnsRecord> records;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        // A comment runs from a semicolon outside quotes to the end of the line.
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else if (line[i] == ';' && !quoted) {
                line.resize(i);
                break;
            }
        }
        const std::size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '$' || line.find('\0') != line.npos) {
            continue;
        }
        ldns_rr* raw = nullptr;
        if (ldns_rr_new_frm_str(&raw, line.c_str(), 0, nullptr, nullptr) != LDNS_STATUS_OK ||
            raw == nullptr) {
            if (raw != nullptr) {
                ldns_rr_free(raw);
            }
            continue;
        }
        const Rr rr(raw);
        records.push_back(recordOf(raw));
    }
    return records;
}

std::vector<std::uint8_t> buildDnsQuery(const DnsQuestion& question, std::uint16_t id,
                                        std::uint16_t udpPayload) {
    Rdf name = nameOf(question.name);
    if (!name) {
        return {};
    }
    const Packet packet(ldns_pkt_query_new(name.release(), static_cast<ldns_rr_type>(question.type),
                                           LDNS_RR_CLASS_IN, 0));
    if (!packet) {
        return {};
    }
    ldns_pkt_set_id(packet.get(), id);
    ldns_pkt_set_rd(packet.get(), question.recursionDesired);
    ldns_pkt_set_edns_udp_size(packet.get(), udpPayload);
    ldns_pkt_set_edns_do(packet.get(), question.dnssecOk);
    std::uint8_t* wire = nullptr;
    std::size_t size = 0;
    if (ldns_pkt2wire(&wire, packet.get(), &size) != LDNS_STATUS_OK || wire == nullptr) {
        std::free(wire);
        return {};
    }
    std::vector<std::uint8_t> out(wire, wire + size);
    std::free(wire);
    return out;
}

bool replyMatches(const DnsReply& reply, std::uint16_t id, const DnsQuestion& question) {
    if (!reply.isResponse || reply.id != id || reply.questionCount != 1 ||
        reply.questionType != question.type || reply.questionClass != LDNS_RR_CLASS_IN) {
        return false;
    }
    const std::optional<std::string> asked = canonicalDnsName(question.name);
    return asked && *asked == reply.questionName;
}

DnsExchange exchangeDns(const DnsServer& server, const DnsQuestion& question,
                        std::chrono::milliseconds timeout) {
    DnsExchange result;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + timeout;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!socketAddress(server, address, length)) {
        result.outcome = DnsExchange::Outcome::unreachable;
        result.failure = "no numeric address: " + server.address;
        return result;
    }
    const std::uint16_t id = randomId();
    const std::vector<std::uint8_t> query = buildDnsQuery(question, id, dnsUdpPayload);
    if (query.empty()) {
        result.outcome = DnsExchange::Outcome::unreachable;
        result.failure = "the name cannot be put into a query: " + question.name;
        return result;
    }
    const Socket socket(::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    // A connected socket takes datagrams from that address and port only, and learns of the
    // server's ICMP refusal.
    if (socket.fd() < 0 ||
        ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::send(socket.fd(), query.data(), query.size(), 0) < 0) {
        result.outcome = DnsExchange::Outcome::unreachable;
        result.failure = "UDP: " + errorName(errno);
        result.elapsed = since(start);
        return result;
    }
    std::vector<std::uint8_t> buffer(65'535);
    int ignored = 0;
    for (;;) {
        if (!waitFor(socket.fd(), POLLIN, deadline)) {
            result.outcome = DnsExchange::Outcome::timedOut;
            result.failure = ignored > 0 ? "timed out; " + std::to_string(ignored) +
                                               " datagrams that answer no query of ours ignored"
                                         : "timed out";
            break;
        }
        const ssize_t n = ::recv(socket.fd(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            result.outcome = DnsExchange::Outcome::unreachable;
            result.failure = "UDP: " + errorName(errno);
            break;
        }
        std::optional<DnsReply> reply = parseDnsReply(buffer.data(), static_cast<std::size_t>(n));
        if (!reply || !replyMatches(*reply, id, question)) {
            ++ignored;
            continue;
        }
        if (reply->truncated) {
            exchangeOverTcp(address, length, query, id, question, deadline, result);
            if (result.outcome != DnsExchange::Outcome::reply) {
                result.failure = "truncated over UDP; " + result.failure;
            }
            break;
        }
        result.outcome = DnsExchange::Outcome::reply;
        result.reply = std::move(reply);
        break;
    }
    result.elapsed = since(start);
    return result;
}

std::vector<std::string> parseResolvConf(std::string_view text) {
    constexpr std::size_t maxNameservers = 3;  // libc's MAXNS
    std::vector<std::string> servers;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line) && servers.size() < maxNameservers) {
        std::istringstream words(line);
        std::string keyword, address;
        if (!(words >> keyword) || keyword != "nameserver" || !(words >> address)) {
            continue;
        }
        if (isNameserverAddress(address)) {
            servers.push_back(address);
        }
    }
    if (servers.empty()) {
        servers.emplace_back("127.0.0.1");
    }
    return servers;
}

std::vector<std::string> systemResolvers(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) {
        // resolv.conf is a few lines; a larger file is read no further than this.
        constexpr std::size_t most = 64 * 1024;
        text.resize(most);
        file.read(text.data(), static_cast<std::streamsize>(most));
        text.resize(static_cast<std::size_t>(file.gcount()));
    }
    return parseResolvConf(text);
}

bool hasIpv6Route(std::string_view probeAddress) {
    const std::string address(probeAddress);
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    target.sin6_port = htons(53);
    if (address.empty() || inet_pton(AF_INET6, address.c_str(), &target.sin6_addr) != 1) {
        return false;
    }
    const Socket socket(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return socket.fd() >= 0 &&
           ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
}

}  // namespace tessaly
