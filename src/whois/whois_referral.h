// Where the built-in table names no WHOIS server for a top-level domain, IANA's WHOIS server
// is asked which server answers for it. The exchange is the worker's own, short and bounded;
// IANA's answer is only read for the server's name and never shown. What IANA said is kept
// for the rest of the run, so each top-level domain is asked about at most once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "lookup/step.h"

namespace tessaly {

// The most of IANA's answer that is read, in bytes. Its answer for a top-level domain is a
// few kilobytes; a longer one is no such answer, and names no server.
inline constexpr std::size_t ianaAnswerLimit = std::size_t{64} << 10;

// A name the window's client may be pointed at: labels of ASCII letters, digits and
// hyphens (none at either end of a label), 1 to 63 bytes each, at least two of them, at most
// 253 bytes in all, and a last label that is not all digits. One final dot is allowed.
bool isPlausibleHostName(std::string_view name);

// The WHOIS server that an answer of IANA's names: the value of its first "refer:" line or,
// when it has none, of its first "whois:" line (key in any ASCII case, value without the
// blanks around it; a line with an empty value counts as none). In lower case, without a
// final dot; nullopt when no such line names a plausible host name.
std::optional<std::string> referredWhoisServer(std::string_view answer);

// The WHOIS server IANA names for topLevel (GBK, one label), asked for in its A-label form;
// the empty text when IANA names none, cannot be asked, is silent or answers nonsense, and
// when topLevel is no DNS label. A complete answer, with a server or without, is kept in
// context.memory; a failed exchange is not, so a later lookup asks again.
Text whoisServerByReferral(std::string_view topLevel, LookupContext& context);

}  // namespace tessaly
