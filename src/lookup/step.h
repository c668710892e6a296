// The contract of a lookup step: what it may touch and how it is called.
#pragma once

#include "lookup/endpoints.h"
#include "lookup/memory.h"
#include "lookup/ports.h"
#include "text/text.h"

namespace tessaly {

// What a lookup step may touch: the output box, the window's TCP client, the endpoints and
// what this run has learnt so far. The worker that runs the step owns them (or shares their
// ownership) for the whole run.
struct LookupContext {
    OutputBox& outputBox;
    WhoisConnection& whoisClient;
    const Endpoints& endpoints;
    // Shared by every worker of the window. None: each step learns afresh and keeps nothing.
    RunMemory* memory = nullptr;
};

// A step takes the domain by reference (it may replace it) and reports only by what it
// writes into the output box.
using LookupStep = void (*)(Text& domain, LookupContext& context);

}  // namespace tessaly
