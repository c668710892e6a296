#include "app/chains.h"

#include <array>

#include "base/log.h"
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
};
constexpr LookupChain whois{"whois", false, whoisSteps};
constexpr LookupChain trace{"digtrace", true, traceSteps};

}  // namespace

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
            if (!sameText(box, unknownText)) {
                logLine(LogTopic::chain, chain.name, ": ", step.name, " skipped: the box holds ",
                        box.size(), " bytes, not exactly \"未知\"");
                continue;
            }
            logLine(LogTopic::chain, chain.name, ": ", step.name,
                    " runs: the box holds exactly \"未知\"");
        } else {
            logLine(LogTopic::chain, chain.name, ": ", step.name, " runs");
        }
        step.run(domain, context);
    }
    logLine(LogTopic::chain, chain.name, ": ended");
}

}  // namespace tessaly
