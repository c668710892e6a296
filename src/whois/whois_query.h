// The first step of the WHOIS chain: reduce the typed domain, pick the server (from the
// table, else the one IANA names), connect on port 43, send the query line; and the handler
// that shows the answer as it arrives.
#pragma once

#include <cstddef>

#include "lookup/step.h"

namespace tessaly {

// The most of one answer that the window's client takes from a WHOIS server, in bytes: far
// above any real answer. A server that sends more is cut off there and its connection
// closed; the box keeps what arrived up to that point.
inline constexpr std::size_t whoisAnswerLimit = std::size_t{1} << 20;

struct ReducedDomain {
    bool reducible = false;  // false when the domain splits into fewer than two labels
    Text domain;             // the registrable name
    Text topLevel;           // the last label, as typed
};

// Removes every "http://" (ASCII case folded) and keeps the last two labels, or three
// when the second-to-last is "com", "net", "org", "edu" or "co".
ReducedDomain reduceDomain(std::string_view typed);

// Reduces the domain, asks whoisServerFor for the server of its top-level label, and where the
// table has none, whoisServerByReferral; then connects the window's client on port 43, writes
// the busy text and sends the query line. A failed connect sends nothing; then only
// showRdapRegistration may write the box.
void queryWhoisServer(Text& domain, LookupContext& context);

// Runs on the user-interface thread for each arrival of the window's TCP client.
// answerSoFar is what the earlier arrivals of the same connection showed (empty before its
// first arrival); this arrival is added to it. The first arrival replaces the box and later
// ones append, but when anything else has written the box since the last arrival, the box
// gets the whole answer so far again: it always holds one whole answer, never the tail of
// one after another lookup's result.
void onWhoisDataArrived(const Bytes& data, Text& answerSoFar, OutputBox& outputBox);

}  // namespace tessaly
