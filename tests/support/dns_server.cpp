#include "dns_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldns/ldns.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tessaly::testing {
namespace {

struct PacketFree {
    void operator()(ldns_pkt* p) const { ldns_pkt_free(p); }
};
using Packet = std::unique_ptr<ldns_pkt, PacketFree>;

Packet packetOf(const std::string& wire) {
    ldns_pkt* raw = nullptr;
    if (ldns_wire2pkt(&raw, reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()) !=
        LDNS_STATUS_OK) {
        ldns_pkt_free(raw);
        return nullptr;
    }
    return Packet(raw);
}

std::string canonical(const ldns_rdf* name) {
    ldns_rdf* copy = ldns_rdf_clone(name);
    ldns_dname2canonical(copy);
    char* text = ldns_rdf2str(copy);
    std::string out = text != nullptr ? text : "";
    std::free(text);
    ldns_rdf_deep_free(copy);
    return out;
}

void push(ldns_pkt* packet, ldns_pkt_section section, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        ldns_rr* rr = nullptr;
        if (ldns_rr_new_frm_str(&rr, line.c_str(), 3600, nullptr, nullptr) != LDNS_STATUS_OK) {
            throw std::runtime_error("ldns cannot read the record: " + line);
        }
        ldns_pkt_push_rr(packet, section, rr);
    }
}

// A socket address for a numeric IPv4 or IPv6 address.
socklen_t socketAddress(const std::string& address, int port, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        return sizeof(sockaddr_in6);
    }
    throw std::runtime_error("not a numeric address: " + address);
}

int boundSocket(const sockaddr_storage& address, socklen_t length, int type) {
    const int fd = ::socket(address.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    if (type == SOCK_STREAM) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 16) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int portOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return address.ss_family == AF_INET
               ? ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port)
               : ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
}

bool readExactly(int fd, char* out, std::size_t count) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    std::size_t have = 0;
    while (have < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        const ssize_t n = ::recv(fd, out + have, count - have, 0);
        if (n <= 0) {
            return false;
        }
        have += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string dnsReply(const std::string& queryWire, const DnsReplyParts& parts) {
    const Packet query = packetOf(queryWire);
    if (!query) {
        throw std::runtime_error("the query is no DNS message");
    }
    const Packet reply(ldns_pkt_new());
    ldns_pkt_set_id(reply.get(),
                    static_cast<std::uint16_t>(ldns_pkt_id(query.get()) + parts.idOffset));
    ldns_pkt_set_qr(reply.get(), true);
    ldns_pkt_set_aa(reply.get(), parts.aa);
    ldns_pkt_set_tc(reply.get(), parts.tc);
    ldns_pkt_set_rd(reply.get(), ldns_pkt_rd(query.get()));
    ldns_pkt_set_rcode(reply.get(), static_cast<std::uint8_t>(parts.rcode));
    const ldns_rr_list* question = ldns_pkt_question(query.get());
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(question); ++i) {
        ldns_rr* q = ldns_rr_clone(ldns_rr_list_rr(question, i));
        if (!parts.questionName.empty()) {
            ldns_rdf_deep_free(ldns_rr_owner(q));
            ldns_rr_set_owner(q, ldns_dname_new_frm_str(parts.questionName.c_str()));
        }
        ldns_pkt_push_rr(reply.get(), LDNS_SECTION_QUESTION, q);
    }
    push(reply.get(), LDNS_SECTION_ANSWER, parts.answer);
    push(reply.get(), LDNS_SECTION_AUTHORITY, parts.authority);
    push(reply.get(), LDNS_SECTION_ADDITIONAL, parts.additional);
    if (ldns_pkt_edns(query.get())) {
        ldns_pkt_set_edns_udp_size(reply.get(), 1232);
        ldns_pkt_set_edns_do(reply.get(), ldns_pkt_edns_do(query.get()));
    }
    std::uint8_t* wire = nullptr;
    std::size_t size = 0;
    if (ldns_pkt2wire(&wire, reply.get(), &size) != LDNS_STATUS_OK) {
        throw std::runtime_error("ldns cannot write the reply");
    }
    std::string out(reinterpret_cast<char*>(wire), size);
    std::free(wire);
    return out;
}

struct DnsTestServer::State {
    std::string address;
    int port = 0;
    DnsHandler handler;
    int udp = -1;
    int tcp = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::vector<SeenQuery> queries;
    std::thread thread;

    // The query as seen, or nothing for bytes that are no query.
    bool see(const std::string& wire, bool overTcp, SeenQuery& seen) {
        const Packet query = packetOf(wire);
        if (!query || ldns_rr_list_rr_count(ldns_pkt_question(query.get())) == 0) {
            return false;
        }
        const ldns_rr* q = ldns_rr_list_rr(ldns_pkt_question(query.get()), 0);
        seen.name = canonical(ldns_rr_owner(q));
        seen.type = static_cast<std::uint16_t>(ldns_rr_get_type(q));
        seen.recursionDesired = ldns_pkt_rd(query.get());
        seen.dnssecOk = ldns_pkt_edns_do(query.get());
        seen.overTcp = overTcp;
        std::lock_guard lock(mutex);
        queries.push_back(seen);
        return true;
    }

    void serveUdp() {
        std::string buffer(65'535, '\0');
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(udp, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n <= 0) {
            return;
        }
        buffer.resize(static_cast<std::size_t>(n));
        SeenQuery seen;
        if (!see(buffer, false, seen)) {
            return;
        }
        for (const std::string& message : handler(seen, buffer)) {
            ::sendto(udp, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     length);
        }
    }

    void serveTcp() {
        const int fd = ::accept4(tcp, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        char header[2];
        std::string wire;
        if (readExactly(fd, header, 2)) {
            const std::size_t size = (std::size_t{static_cast<unsigned char>(header[0])} << 8) |
                                     static_cast<unsigned char>(header[1]);
            wire.resize(size);
            SeenQuery seen;
            if (readExactly(fd, wire.data(), size) && see(wire, true, seen)) {
                for (const std::string& message : handler(seen, wire)) {
                    std::string out;
                    out += static_cast<char>((message.size() >> 8) & 0xFF);
                    out += static_cast<char>(message.size() & 0xFF);
                    out += message;
                    (void)::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
                }
            }
        }
        ::close(fd);
    }

    void loop() {
        while (!stopping) {
            pollfd fds[3] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (::poll(fds, 3, 1000) <= 0) {
                continue;
            }
            if (fds[2].revents != 0) {
                break;
            }
            if (fds[0].revents & POLLIN) {
                serveUdp();
            }
            if (fds[1].revents & POLLIN) {
                serveTcp();
            }
        }
    }

    ~State() {
        for (int fd : {udp, tcp, wake[0], wake[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
};

DnsTestServer::DnsTestServer(std::string address, int port, DnsHandler handler)
    : state_(std::make_shared<State>()) {
    state_->address = std::move(address);
    state_->handler = std::move(handler);
    // Port 0: the UDP port the system picks, when TCP can have it too on this address.
    for (int attempt = 0; attempt < 50 && state_->tcp < 0; ++attempt) {
        if (state_->udp >= 0) {
            ::close(state_->udp);
        }
        sockaddr_storage a{};
        socklen_t length = socketAddress(state_->address, port, a);
        state_->udp = boundSocket(a, length, SOCK_DGRAM);
        if (state_->udp < 0) {
            break;
        }
        state_->port = portOf(state_->udp);
        length = socketAddress(state_->address, state_->port, a);
        state_->tcp = boundSocket(a, length, SOCK_STREAM);
        if (port != 0) {
            break;
        }
    }
    if (state_->udp < 0 || state_->tcp < 0 || ::pipe2(state_->wake, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot listen on " + state_->address + " port " +
                                 std::to_string(port) + ": " + std::strerror(errno));
    }
    state_->thread = std::thread([state = state_] { state->loop(); });
}

DnsTestServer::~DnsTestServer() {
    state_->stopping = true;
    (void)::write(state_->wake[1], "x", 1);
    state_->thread.join();
}

const std::string& DnsTestServer::address() const {
    return state_->address;
}

int DnsTestServer::port() const {
    return state_->port;
}

std::vector<SeenQuery> DnsTestServer::queries() const {
    std::lock_guard lock(state_->mutex);
    return state_->queries;
}

DnsTestServer& DnsTestNetwork::add(const std::string& address, DnsHandler handler) {
    servers_.push_back(std::make_unique<DnsTestServer>(address, port_, std::move(handler)));
    port_ = servers_.back()->port();
    return *servers_.back();
}

std::size_t DnsTestNetwork::totalQueries() const {
    std::size_t total = 0;
    for (const auto& server : servers_) {
        total += server->queries().size();
    }
    return total;
}

}  // namespace tessaly::testing
