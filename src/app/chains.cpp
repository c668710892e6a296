#include "app/chains.h"

#include "trace/trace_services.h"
#include "whois/web_whois.h"
#include "whois/whois_query.h"

namespace tessaly {

const LookupChain& whoisChain() {
    static const LookupChain chain{false, {queryWhoisServer, webWhoisServiceA, webWhoisServiceB}};
    return chain;
}

const LookupChain& traceChain() {
    static const LookupChain chain{true,
                                   {traceServiceA, traceServiceB, traceServiceC, traceServiceD}};
    return chain;
}

void runChain(const LookupChain& chain, DomainBox& domainBox, LookupContext& context) {
    Text domain = domainBox.readText();
    if (chain.writesBusyTextFirst) {
        context.outputBox.setText(busyText);
    }
    // The test before every later step is made whether or not the step before it ran,
    // and it sees the last write of any thread.
    for (std::size_t i = 0; i < chain.steps.size(); ++i) {
        if (i == 0 || sameText(context.outputBox.readText(), unknownText)) {
            chain.steps[i](domain, context);
        }
    }
}

}  // namespace tessaly
