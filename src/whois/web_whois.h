// The web WHOIS fallbacks: the second and third steps of the WHOIS chain, asked only
// while the output box holds exactly "未知". Both receive the domain as queryWhoisServer
// reduced it, only read it, and set the whole output box once at their end.
#pragma once

#include <cstddef>

#include "lookup/step.h"

namespace tessaly {

// Service A joins its pre blocks; a hostile body can make those overlapping pieces add
// up to far more than the body itself (every "<pre>" starts a piece that runs to the same
// "</pre>"). Joining stops before the joined text would grow beyond this many bytes, the
// request object's cap on a body, and what was joined so far is shown.
inline constexpr std::size_t webWhoisJoinLimit = std::size_t{16} << 20;

// Service A: POST "domain=" + domain to its endpoint, then show webWhoisServiceAResult.
void webWhoisServiceA(Text& domain, LookupContext& context);

// Service B: GET its full-whois query for the domain, then show webWhoisServiceBResult.
void webWhoisServiceB(Text& domain, LookupContext& context);

// Service A's body, UTF-8, turned into the shown text: every piece between "<pre>" and
// "</pre>" (markers in any ASCII case) joined with nothing between, each LF made CR LF,
// then every "<br />" deleted byte-exactly. The empty text when there is no piece.
Text webWhoisServiceAResult(const Bytes& body);

// The pieces that extractBetween(text, "<pre>", "</pre>") finds, joined end to end in
// their order, without holding them all at once. A piece that would make the joined text
// longer than limit ends the joining; the pieces before it are kept.
Text joinPreBlocks(std::string_view text, std::size_t limit);

// Service B's body shown as it came: the bytes before the first zero byte, no character
// set conversion, each LF made CR LF.
Text webWhoisServiceBResult(const Bytes& body);

// The current time as decimal milliseconds since 1970-01-01 00:00:00 UTC (thirteen digits
// for any date from 2001 to 2286), from the system clock; the empty text when the clock
// cannot be read or stands before 1970.
Text scriptTimestamp();

}  // namespace tessaly
