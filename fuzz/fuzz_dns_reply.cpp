// A DNS reply as it may come off the wire, on arbitrary bytes: read by ldns, judged as the walk
// judges it at the root and deeper, and shown as a block of the trace. Nothing may crash,
// hang or read out of bounds, and what the box would show is ASCII in CR LF lines.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "net/dns_client.h"
#include "trace/trace_native.h"

using namespace tessaly;

namespace {

void checkShown(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool lineEnd = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) {
            std::abort();  // a line feed without its CR
        }
        if (!lineEnd && c != '\n' && c != '\t' && (c < 0x20 || c >= 0x7F)) {
            std::abort();  // not printable ASCII
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<DnsReply> reply = parseDnsReply(data, size);
    if (!reply) {
        return 0;
    }
    const DnsQuestion question{"www.example.com.", dnsType::a, false, true};
    (void)replyMatches(*reply, reply->id, question);
    for (const char* zone : {".", "com.", "example.com."}) {
        for (const bool ipv6 : {false, true}) {
            const ReplyVerdict verdict =
                judgeReply(*reply, zone, "www.example.com.", dnsType::a, ipv6);
            if (verdict.kind == ReplyVerdict::Kind::referral) {
                // A referral always comes closer: below the zone asked, at or above the name.
                if (verdict.servers.empty() || verdict.zone == zone ||
                    !dnsNameIsAtOrBelow(verdict.zone, zone) ||
                    !dnsNameIsAtOrBelow("www.example.com.", verdict.zone)) {
                    std::abort();
                }
            }
            checkShown(verdict.why);
        }
    }
    (void)serversOfRoot(reply->answer, true);
    checkShown(
        traceBlock(*reply, {"note"}, "192.0.2.1#53(a.example)", std::chrono::milliseconds(3)));
    return 0;
}
