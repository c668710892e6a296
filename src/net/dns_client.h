// A small DNS client on ldns: one question to one server over UDP with EDNS, again over TCP
// when the reply comes back truncated, every wait bounded. Replies are handed on as plain
// records with their zone-file presentation, so the layers above need no DNS library.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// Record types the trace asks for or looks at (their numbers on the wire).
namespace dnsType {
inline constexpr std::uint16_t a = 1;
inline constexpr std::uint16_t ns = 2;
inline constexpr std::uint16_t cname = 5;
inline constexpr std::uint16_t soa = 6;
inline constexpr std::uint16_t aaaa = 28;
}  // namespace dnsType

namespace dnsRcode {
inline constexpr int noError = 0;
inline constexpr int nxDomain = 3;
}  // namespace dnsRcode

// One resource record as received.
struct DnsRecord {
    std::string owner;       // canonical: lower case, final dot ("example.com.", ".")
    std::uint16_t type = 0;  // dnsType
    std::uint32_t ttl = 0;
    // The first field of the data in presentation form: the target name of NS and CNAME
    // (canonical), the address of A and AAAA; empty when the record has no data.
    std::string target;
    // The whole record in zone-file presentation as ldns writes it (owner, TTL, class, type,
    // data, tab-separated), ASCII, without a line end.
    std::string presentation;
};

struct DnsReply {
    std::uint16_t id = 0;
    bool isResponse = false;     // QR
    bool authoritative = false;  // AA
    bool truncated = false;      // TC
    int rcode = 0;               // with the EDNS extended bits
    std::string questionName;    // canonical; empty when the reply has no question
    std::uint16_t questionType = 0;
    std::uint16_t questionClass = 0;
    std::size_t questionCount = 0;
    std::vector<DnsRecord> answer, authority, additional;
    std::size_t wireBytes = 0;
};

// A reply read from its wire form; nullopt when ldns cannot read it.
std::optional<DnsReply> parseDnsReply(const std::uint8_t* wire, std::size_t size);

// The name of an rcode as dig shows it ("NOERROR", "NXDOMAIN", "SERVFAIL"; a number for one
// ldns does not know).
std::string dnsRcodeName(int rcode);

// The name of a record type ("A", "NS", "AAAA"; "TYPE65280" for one ldns does not know).
std::string dnsTypeName(std::uint16_t type);

// The canonical presentation of a name written in presentation form ("Example.COM" gives
// "example.com."); nullopt when it is none.
std::optional<std::string> canonicalDnsName(std::string_view name);

// True when name is zone or lies below it (both in presentation form); false when either is
// no name.
bool dnsNameIsAtOrBelow(std::string_view name, std::string_view zone);

// Records written in zone-file presentation, one a line (comments and empty lines skipped,
// lines ldns cannot read skipped too), as in a root hints file.
std::vector<DnsRecord> parseZoneRecords(std::string_view text);

// The question of one query, always of class IN.
struct DnsQuestion {
    std::string name;  // presentation form, final dot
    std::uint16_t type = dnsType::a;
    bool recursionDesired = false;  // RD
    bool dnssecOk = true;           // DO in the EDNS record
};

// The query's wire form with that id, EDNS advertising udpPayload bytes; empty when the name
// cannot be put on the wire.
std::vector<std::uint8_t> buildDnsQuery(const DnsQuestion& question, std::uint16_t id,
                                        std::uint16_t udpPayload);

// Whether a reply answers the query made with that id and question: QR set, the same id and
// exactly that one question (name compared without case).
bool replyMatches(const DnsReply& reply, std::uint16_t id, const DnsQuestion& question);

// Where a query goes: an IPv4 or IPv6 address in numeric form and a port.
struct DnsServer {
    std::string address;
    int port = 53;
};

struct DnsExchange {
    enum class Outcome {
        reply,        // a reply that matches the query; in reply
        timedOut,     // nothing that matches within the time
        unreachable,  // the query could not be sent, or the server refused it (ICMP, RST)
        failed,       // a TCP exchange that broke off or brought no readable reply
    };
    Outcome outcome = Outcome::timedOut;
    std::optional<DnsReply> reply;
    bool overTcp = false;                  // the reply came over TCP (after a truncated one)
    std::chrono::milliseconds elapsed{0};  // from the first send to the reply or the end
    std::string failure;                   // why, when there is no reply (for the diagnostics)
};

// Asks server the question over UDP and waits at most timeout for the matching reply; a
// reply with another id or question, or one ldns cannot read, is ignored and the wait goes
// on. A truncated reply is asked again over TCP within what is left of the same time. The
// caller's thread is held for at most timeout (and a few milliseconds).
DnsExchange exchangeDns(const DnsServer& server, const DnsQuestion& question,
                        std::chrono::milliseconds timeout);

// The UDP payload size every query advertises: small enough to pass without fragments.
inline constexpr std::uint16_t dnsUdpPayload = 1232;

// The nameserver addresses of a resolv.conf text, as libc reads them: the address after each
// "nameserver" (at most three, in order); 127.0.0.1 when there is none.
std::vector<std::string> parseResolvConf(std::string_view text);
// The same for the file at path; a file that cannot be read counts as one without lines.
std::vector<std::string> systemResolvers(const std::string& path);

// Whether the machine has a route to that IPv6 address: a UDP socket is connected to it,
// which sends nothing. False for an empty or malformed address.
bool hasIpv6Route(std::string_view probeAddress);

}  // namespace tessaly
