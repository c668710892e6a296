// The two lookup chains and the runner that decides which of their steps run.
#pragma once

#include <span>
#include <string_view>

#include "lookup/ports.h"
#include "lookup/step.h"

namespace tessaly {

// The test made before a later step: true when the step is to run on what the box holds.
using BoxTest = bool (*)(std::string_view box);

// Exactly "未知", byte for byte: the test before every later step of both chains.
bool boxHoldsUnknown(std::string_view box);

// Exactly "未知", or exactly service D's final failure: its prefix followed by "未知". The test
// before the native trace, which runs when no trace service gave a trace.
bool boxHoldsNoTrace(std::string_view box);

struct ChainStep {
    std::string_view name;  // for the diagnostics
    LookupStep run;
    BoxTest runsWhen = boxHoldsUnknown;  // not made before the first step
};

struct LookupChain {
    std::string_view name;
    bool writesBusyTextFirst = false;
    std::span<const ChainStep> steps;  // in the order they are asked
};

const LookupChain& whoisChain();
const LookupChain& traceChain();

// Reads the domain box once, writes the busy text if the chain does, runs the first step,
// then each later step only when its test passes on a fresh read of the output box.
void runChain(const LookupChain& chain, DomainBox& domainBox, LookupContext& context);

inline void runWhoisLookup(DomainBox& domainBox, LookupContext& context) {
    runChain(whoisChain(), domainBox, context);
}
inline void runDigTrace(DomainBox& domainBox, LookupContext& context) {
    runChain(traceChain(), domainBox, context);
}

}  // namespace tessaly
