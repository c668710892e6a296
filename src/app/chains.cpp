#include "app/chains.h"

#include <array>

#include "base/log.h"
#include "text/codepage.h"
#include "trace/trace_native.h"
#include "trace/trace_services.h"
#include "whois/web_whois.h"
#include "whois/whois_query.h"

namespace tessaly {
namespace {

// Constant data only: a worker may still run a chain while the program ends, so nothing
// here has a destructor.
constexpr std::array whoisSteps{
    ChainStep{"queryWhoisServer", queryWhoisServer},
    ChainStep{"webWhoisServiceA", webWhoisServiceA},
    ChainStep{"webWhoisServiceB", webWhoisServiceB},
};
constexpr std::array traceSteps{
    ChainStep{"traceServiceA", traceServiceA},
    ChainStep{"traceServiceB", traceServiceB},
    ChainStep{"traceServiceC", traceServiceC},
    ChainStep{"traceServiceD", traceServiceD},
    ChainStep{"traceNative", traceNative, boxHoldsNoTrace},
};
constexpr LookupChain whois{"whois", false, whoisSteps};
constexpr LookupChain trace{"digtrace", true, traceSteps};

}  // namespace

namespace {

// The start of the box for the diagnostics, line ends made visible.
std::string preview(std::string_view box) {
    constexpr std::size_t shown = 40;
    std::string out = "\"";
    for (char c : gbkToUtf8(box.substr(0, shown))) {
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    out += box.size() > shown ? "\"..." : "\"";
    return out;
}

}  // namespace

bool boxHoldsUnknown(std::string_view box) {
    return sameText(box, unknownText);
}

bool boxHoldsNoTrace(std::string_view box) {
    return sameText(box, unknownText) ||
           (box.size() == traceServiceDPrefix.size() + unknownText.size() &&
            box.starts_with(traceServiceDPrefix) && box.ends_with(unknownText));
}

const LookupChain& whoisChain() {
    return whois;
}

const LookupChain& traceChain() {
    return trace;
}

void runChain(const LookupChain& chain, DomainBox& domainBox, LookupContext& context) {
    Text domain = domainBox.readText();
    logLine(LogTopic::chain, chain.name, ": domain box holds ", domain.size(), " bytes");
    if (chain.writesBusyTextFirst) {
        context.outputBox.setText(busyText);
    }
    // The test before every later step is made whether or not the step before it ran,
    // and it sees the last write of any thread.
    for (std::size_t i = 0; i < chain.steps.size(); ++i) {
        const ChainStep& step = chain.steps[i];
        if (i > 0) {
            const Text box = context.outputBox.readText();
            if (!step.runsWhen(box)) {
                logLine(LogTopic::chain, chain.name, ": ", step.name, " skipped: the box holds ",
                        preview(box), " (", box.size(), " bytes)");
                continue;
            }
            logLine(LogTopic::chain, chain.name, ": ", step.name, " runs: the box holds ",
                    preview(box));
        } else {
            logLine(LogTopic::chain, chain.name, ": ", step.name, " runs");
        }
        step.run(domain, context);
    }
    logLine(LogTopic::chain, chain.name, ": ended");
}

}  // namespace tessaly
