#include "whois/whois_query.h"

#include <array>

#include "whois/whois_servers.h"

namespace tessaly {
namespace {

// Under these the registry holds three labels (example.com.cn, example.co.uk). Compared
// byte for byte, so only the lower-case forms count.
constexpr std::array<std::string_view, 5> secondLevelLabels = {"com", "net", "org", "edu", "co"};

bool isSecondLevelLabel(std::string_view label) {
    for (std::string_view candidate : secondLevelLabels) {
        if (sameText(label, candidate)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ReducedDomain reduceDomain(std::string_view typed) {
    ReducedDomain result;
    result.domain = replaceText(typed, "http://", "", /*caseSensitive=*/false);
    const TextList labels = splitText(result.domain, ".");
    const std::size_t n = labels.size();
    if (n < 2) {
        return result;  // a bare name, the empty text or a lone dot: nothing to reduce
    }
    result.reducible = true;
    result.topLevel = labels[n - 1];
    if (n >= 3 && isSecondLevelLabel(labels[n - 2])) {
        result.domain = joinTexts(labels[n - 3], ".", labels[n - 2], ".", labels[n - 1]);
    } else {
        result.domain = joinTexts(labels[n - 2], ".", labels[n - 1]);
    }
    return result;
}

void queryWhoisServer(Text& domain, LookupContext& context) {
    ReducedDomain reduced = reduceDomain(domain);
    domain = std::move(reduced.domain);
    if (!reduced.reducible) {
        return;  // the box keeps what it holds, as after a failed connect
    }
    const Text host = whoisServerFor(reduced.topLevel);
    // An empty host fails, but only after the previous connection has been closed.
    if (!context.whoisClient.connect(host, context.endpoints.whoisPort)) {
        return;
    }
    context.outputBox.setText(busyText);
    // The query line ends LF then CR, in that order, not the usual CR LF.
    context.whoisClient.send(joinTexts(domain, charFromCode(10), charFromCode(13)));
}

void onWhoisDataArrived(const Bytes& data, Text& answerSoFar, OutputBox& outputBox) {
    const Text text = replaceText(bytesToText(data), charFromCode(10), "\r\n");
    const bool boxHoldsTheAnswer =
        !answerSoFar.empty() && sameText(outputBox.readText(), answerSoFar);
    answerSoFar += text;
    if (boxHoldsTheAnswer) {
        outputBox.appendText(text);
    } else {
        outputBox.setText("");
        outputBox.appendText(answerSoFar);
    }
    outputBox.caretToStart();
}

}  // namespace tessaly
