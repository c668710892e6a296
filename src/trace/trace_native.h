// The last step of the trace chain: a delegation trace computed by the program itself, the
// way dig +trace makes it. It asks the system's resolver for the root servers (or takes the
// root hints), then asks one server of each zone, without recursion, for the domain and
// follows the referrals down to the answer. Each reply is shown in the output box as soon as
// it comes: the first replaces the box's text, every later one is appended.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/step.h"
#include "net/dns_client.h"
#include "text/text.h"

namespace tessaly {

// Walks the DNS for the domain as typed (GBK; labels outside ASCII become A-labels). Writes
// nothing when the domain is no valid DNS name or when no first reply can be had at all (no
// resolver, no root server answers): the box then keeps what it held. Bounded by the
// endpoints' NativeTraceSettings.
void traceNative(Text& domain, LookupContext& context);

// A name server of a zone with the addresses known for it (glue); none when it came without.
struct NativeServer {
    std::string name;  // canonical, final dot
    std::vector<std::string> addresses;
};

// What one reply to the question (name, type), asked of a server of zone, means to the walk.
struct ReplyVerdict {
    enum class Kind {
        answer,    // records of the asked type for the name
        cname,     // the name is an alias; the alias is the answer
        nxDomain,  // authoritative: the name does not exist
        noData,    // authoritative: the name has no record of that type
        referral,  // to a zone closer to the name
        unusable,  // none of these: lame, a loop, upward, an error; the next server is tried
    };
    Kind kind = Kind::unusable;
    std::string zone;                   // referral: the zone it hands on to
    std::vector<NativeServer> servers;  // referral: that zone's servers, with their glue
    std::string why;                    // unusable: why, for the line that ends a walk
};

// Glue and the addresses of the answer are taken in IPv4 only unless useIpv6.
ReplyVerdict judgeReply(const DnsReply& reply, std::string_view zone, std::string_view name,
                        std::uint16_t type, bool useIpv6);

// The servers of "." named by NS records, with the addresses that the records give them.
std::vector<NativeServer> serversOfRoot(const std::vector<DnsRecord>& records, bool useIpv6);

// One block of the trace: the answer and authority records of the reply in zone-file
// presentation, then each note line as a ";;" comment, then ";; Received N bytes from
// SERVER in T ms" and an empty line. ASCII, every line ending in CR LF.
std::string traceBlock(const DnsReply& reply, const std::vector<std::string>& notes,
                       std::string_view server, std::chrono::milliseconds elapsed);

}  // namespace tessaly
