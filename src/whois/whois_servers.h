// The built-in WHOIS server table: which server answers for a top-level domain. The table
// is kept in whois_servers.list; the build turns it into whois/whois_server_table.h.
#pragma once

#include <span>
#include <string_view>

#include "text/text.h"

namespace tessaly {

struct WhoisServerEntry {
    std::string_view key;     // one label, no dot: lower-case ASCII or GBK bytes
    std::string_view server;  // host name, no scheme, no port
};

}  // namespace tessaly

// Defines registrarWhoisHost (a constexpr std::string_view): the WHOIS server of the domain
// registrar that answers for the common generic domains, "cn" and the Chinese-language keys,
// the list's @registrar. Web WHOIS service B names the same host. Also the entries behind
// whoisServerTable().
#include "whois/whois_server_table.h"

namespace tessaly {

// Every entry in table order; each key occurs once.
std::span<const WhoisServerEntry> whoisServerTable();

// The server whose key equals label byte for byte (no case folding, no trimming, no
// code-page conversion); the empty text when there is none.
Text whoisServerFor(std::string_view label);

}  // namespace tessaly
