// The two lookup chains and the runner that decides which of their steps run.
#pragma once

#include <vector>

#include "app/endpoints.h"
#include "app/ports.h"

namespace tessaly {

// What a lookup step may touch: the output box, the window's TCP client and the endpoints.
struct LookupContext {
    OutputBox& outputBox;
    WhoisConnection& whoisClient;
    const Endpoints& endpoints;
};

// A step takes the domain by reference (it may replace it) and reports only by what it
// writes into the output box.
using LookupStep = void (*)(Text& domain, LookupContext& context);

struct LookupChain {
    bool writesBusyTextFirst = false;
    std::vector<LookupStep> steps;  // in the order they are asked
};

const LookupChain& whoisChain();
const LookupChain& traceChain();

// Reads the domain box once, writes the busy text if the chain does, runs the first step,
// then each later step only when a fresh read of the output box is exactly "未知".
void runChain(const LookupChain& chain, DomainBox& domainBox, LookupContext& context);

inline void runWhoisLookup(DomainBox& domainBox, LookupContext& context) {
    runChain(whoisChain(), domainBox, context);
}
inline void runDigTrace(DomainBox& domainBox, LookupContext& context) {
    runChain(traceChain(), domainBox, context);
}

}  // namespace tessaly
