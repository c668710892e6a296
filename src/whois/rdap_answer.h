// RDAP (RFC 9082, 9083, 9224) read into what the WHOIS step shows: IANA's bootstrap registry
// for domain names, and a server's answer for one domain turned into the plain lines a WHOIS
// user reads at a glance. Pure functions of the bytes they are given; the requests are
// rdap_query's.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The most of an RDAP body (the bootstrap registry or an answer) that is taken, in bytes. The
// registry is some 60 KB and an answer a few; a larger body fails its request.
inline constexpr std::size_t rdapBodyLimit = std::size_t{1} << 20;

// JSON nested deeper than this is no RDAP (an answer nests some eight levels).
inline constexpr int rdapNestingLimit = 32;

// The domain services of the bootstrap registry: for each entry (a domain name in lower-case
// A-labels, without a final dot, as a rule one top-level label), its base URLs in the
// registry's order, each ending in "/".
struct RdapBootstrap {
    std::map<std::string, std::vector<std::string>, std::less<>> basesOf;
};

// nullopt for a body that is not such a registry: malformed or too deeply nested JSON, no
// "services" array, or a service that is not a pair of arrays of strings.
std::optional<RdapBootstrap> parseRdapBootstrap(std::string_view json);

// The HTTPS base URLs of the longest entry that the name (lower-case A-labels) is, or ends in
// at a label's start; empty when none matches. Plain-HTTP bases are left out, and so are URLs
// with bytes other than printable ASCII.
std::vector<std::string> rdapBasesFor(const RdapBootstrap& bootstrap, std::string_view name);

enum class RdapAnswerKind {
    notRdap,   // nothing to show: not RDAP JSON, an error other than "not found", a bad type
    domain,    // the registration data of the domain
    notFound,  // the server holds no such domain
};

struct RdapAnswer {
    RdapAnswerKind kind = RdapAnswerKind::notRdap;
    // UTF-8 lines, each ending CR LF, from the source line "% RDAP <url>" on.
    std::string text;
    // (domain) The registrar's RDAP record of the same domain, when the answer links to it:
    // a "related" link of type application/rdap+json to an HTTPS URL ending in
    // "/domain/<name>".
    std::string registrarUrl;
    // (notRdap) Why, for the diagnostics.
    std::string why;
};

// The answer of a request for url: its body and HTTP status. aLabelName is the domain asked
// for (lower-case A-labels); shownName the same domain as the user typed it, in UTF-8, for
// the not-found line, where it stands in capitals.
RdapAnswer readRdapAnswer(std::string_view body, long status, std::string_view url,
                          std::string_view aLabelName, std::string_view shownName);

}  // namespace tessaly
