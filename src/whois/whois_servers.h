// The built-in WHOIS server table: which server answers for a top-level domain.
#pragma once

#include <span>
#include <string_view>

#include "text/text.h"

namespace tessaly {

// The WHOIS server of the domain registrar that answers for the common generic domains,
// "cn" and the Chinese-language keys. Web WHOIS service B names the same host.
inline constexpr std::string_view registrarWhoisHost = "grs-whois.hichina.com";

struct WhoisServerEntry {
    std::string_view key;     // one label, no dot: lower-case ASCII or GBK bytes
    std::string_view server;  // host name, no scheme, no port
};

// Every entry in table order; each key occurs once.
std::span<const WhoisServerEntry> whoisServerTable();

// The server whose key equals label byte for byte (no case folding, no trimming, no
// code-page conversion); the empty text when there is none.
Text whoisServerFor(std::string_view label);

}  // namespace tessaly
