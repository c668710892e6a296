// Registration data over RDAP (RFC 7480–7484, 9082, 9083, 9224) where the WHOIS step could
// make no connection on port 43: no server from the table nor from IANA, or a connect that
// failed. The base URLs come from IANA's bootstrap registry, fetched once per run; the
// answer (and the registrar's, when the registry links to it) replaces the box in one set.
#pragma once

#include <string_view>

#include "lookup/step.h"

namespace tessaly {

// The registration of domain (the reduced domain, GBK) as RDAP gives it, set into the output
// box once; true when it was. When RDAP yields nothing (no RDAP service for the domain, a
// failed request, an answer that is no RDAP JSON), nothing is written. The bootstrap registry
// is kept in context.memory once fetched; a failed fetch is not, so a later lookup tries
// again.
bool showRdapRegistration(std::string_view domain, LookupContext& context);

}  // namespace tessaly
