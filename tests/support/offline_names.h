// Names under ".invalid" never resolve, yet the system's resolver still sends a query for
// them to the configured name server, off this machine. A test program that calls
// keepInvalidNamesLocal() gets a getaddrinfo that answers "no such name" for them at once
// (every other name goes to the system's), so a test of a name that does not resolve
// sends nothing out, through libcurl's resolver and the WHOIS client's alike.
#pragma once

#include <cstddef>

namespace tessaly::testing {

// Links the local answer into the program; call it before the first lookup.
void keepInvalidNamesLocal();

// How many lookups of names under ".invalid" were answered locally so far.
std::size_t invalidNamesAnswered();

}  // namespace tessaly::testing
