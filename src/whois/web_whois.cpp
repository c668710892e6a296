#include "whois/web_whois.h"

#include <time.h>

#include <string>

#include "text/codepage.h"
#include "text/request.h"
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
    return replaceText(joined, lineBreakTag, "", true);
}

Text webWhoisServiceBResult(const Bytes& body) {
    return replaceText(bytesToText(body), lf, crLf, true);
}

void webWhoisServiceA(Text& domain, LookupContext& context) {
    const std::string& endpoint = context.endpoints.webWhoisServiceA;
    RequestObject request(context.endpoints.requestPolicy);
    request.open("POST", endpoint);
    setLookupHeaders(request, endpoint, false);
    request.send(joinTexts("domain=", domain));
    context.outputBox.setText(webWhoisServiceAResult(request.responseBody()));
}

void webWhoisServiceB(Text& domain, LookupContext& context) {
    const std::string& site = context.endpoints.webWhoisServiceBSite;
    RequestObject request(context.endpoints.requestPolicy);
    // One timestamp per request, taken once the request object exists and before it opens.
    const Text timestamp = scriptTimestamp();
    const Text url = joinTexts(site, "/whois/api_whois_full?host=", domain,
                               "&web_server=", registrarWhoisHost, "&_=", timestamp);
    request.open("GET", url);
    setLookupHeaders(request, joinTexts(site, "/whois/domain/", domain), true);
    request.send();
    context.outputBox.setText(webWhoisServiceBResult(request.responseBody()));
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
