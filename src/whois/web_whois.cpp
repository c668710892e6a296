#include "whois/web_whois.h"

#include <time.h>

#include <string>

#include "base/log.h"
#include "net/request.h"
#include "text/codepage.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

constexpr std::string_view preStart = "<pre>";
constexpr std::string_view preEnd = "</pre>";
constexpr std::string_view lineBreakTag = "<br />";
constexpr std::string_view lf = "\n";
constexpr std::string_view crLf = "\r\n";

}  // namespace

// Both markers are ASCII, so every search starts on the character grid that begins at the
// first byte, and the end marker found for one start marker is still the first one for
// every later start marker before it: each part of the text is scanned about once.
Text joinPreBlocks(std::string_view text, std::size_t limit) {
    Text joined;
    const long startLength = static_cast<long>(preStart.size());
    long pos = 1;
    long end = -1;
    bool haveEnd = false;
    for (;;) {
        const long start = findText(text, preStart, pos, true);
        if (start < 0) {
            break;
        }
        // The next start marker is searched from right after this one: pieces may overlap.
        pos = start + startLength;
        if (!haveEnd || end < pos) {
            end = findText(text, preEnd, pos, true);
            haveEnd = true;
        }
        if (end < 0) {
            break;  // no end marker after this point, so no later start marker has a piece
        }
        const auto length = static_cast<std::size_t>(end - pos);
        if (length > limit - joined.size()) {
            break;
        }
        joined.append(text.substr(static_cast<std::size_t>(pos - 1), length));
    }
    return joined;
}

Text webWhoisServiceAResult(const Bytes& body) {
    const Text text = utf8ToLocalText(body);
    Text joined = joinPreBlocks(text, webWhoisJoinLimit);
    joined = replaceText(joined, lf, crLf, true);
    // Kept on purpose: only the six bytes "<br />" go; "<br/>", "<BR />" and the like stay.
    return replaceText(joined, lineBreakTag, "", true);
}

Text webWhoisServiceBResult(const Bytes& body) {
    return replaceText(bytesToText(body), lf, crLf, true);
}

namespace {

// What a service shows, or why it shows nothing, for the diagnostics.
void logResult(std::string_view service, const RequestObject& request, const Text& shown) {
    if (!shown.empty()) {
        logLine(LogTopic::whois, service, ": shows ", shown.size(), " bytes");
    } else if (!request.failure().empty()) {
        logLine(LogTopic::whois, service, ": the request failed (", request.failure(),
                "); the box is emptied");
    } else {
        logLine(LogTopic::whois, service, ": status ", request.status(), ", ",
                request.responseBody().size(), " bytes with nothing to show; the box is emptied");
    }
}

}  // namespace

void webWhoisServiceA(Text& domain, LookupContext& context) {
    const Text endpoint = context.endpoints.webWhoisServiceA.url();
    RequestObject request(context.endpoints.requestPolicy);
    request.open("POST", endpoint);
    setLookupHeaders(request, endpoint, false);
    // Kept on purpose: the domain goes into the body unencoded, so "a&b=c" makes two fields.
    request.send(joinTexts("domain=", domain));
    const Text shown = webWhoisServiceAResult(request.responseBody());
    logResult("webWhoisServiceA", request, shown);
    context.outputBox.setText(shown);
}

void webWhoisServiceB(Text& domain, LookupContext& context) {
    const WebService& service = context.endpoints.webWhoisServiceB;
    RequestObject request(context.endpoints.requestPolicy);
    // One timestamp per request, taken once the request object exists and before it opens.
    const Text timestamp = scriptTimestamp();
    const Text url = joinTexts(service.url(), "?host=", domain, "&web_server=", registrarWhoisHost,
                               "&_=", timestamp);
    request.open("GET", url);
    // Kept on purpose: Content-Type and X-Requested-With go with this GET although it has no
    // body, as the service's own page sends them.
    setLookupHeaders(request, joinTexts(service.origin, webWhoisServiceBPagePath, domain), true);
    request.send();
    const Text shown = webWhoisServiceBResult(request.responseBody());
    logResult("webWhoisServiceB", request, shown);
    context.outputBox.setText(shown);
}

Text scriptTimestamp() {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) {
        return Text();
    }
    const long long milliseconds =
        static_cast<long long>(now.tv_sec) * 1000 + static_cast<long long>(now.tv_nsec / 1'000'000);
    return std::to_string(milliseconds);
}

}  // namespace tessaly
