// The two lookup chains and the runner that decides which of their steps run.
#pragma once

#include <span>
#include <string_view>

#include "lookup/ports.h"
#include "lookup/step.h"

namespace tessaly {

struct ChainStep {
    std::string_view name;  // for the diagnostics
    LookupStep run;
};

struct LookupChain {
    std::string_view name;
    bool writesBusyTextFirst = false;
    std::span<const ChainStep> steps;  // in the order they are asked
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
