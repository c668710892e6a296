#include "trace/trace_services.h"

#include <cstdint>
#include <memory>

#include "text/extract.h"
#include "text/request.h"
#include "trace/pause.h"

namespace tessaly {
namespace {

const Text crlf = "\r\n";

// The prefix service D writes before its trace.
constexpr std::string_view traceServiceDPrefix = "Loading root server list (static data):";

// The pause between the two postbacks of one service D attempt, in milliseconds.
constexpr int traceServiceDPauseMs = 5;

Bytes post(const RequestPolicy& policy, const std::string& url, bool withXRequestedWith,
           std::string_view body) {
    RequestObject request(policy);
    request.open("POST", url);
    setLookupHeaders(request, url, withXRequestedWith);
    request.send(body);
    return request.responseBody();
}

}  // namespace

Text traceServiceAResult(const Bytes& body) {
    Text text = bytesToText(body);
    // The JSON escapes of line feed and tab, as the body carries them.
    text = replaceText(text, "\\n", crlf, true);
    text = replaceText(text, "\\t", " ", true);
    return extractFirstBetween(text, "info\": \"\r\n", "\"");
}

Text traceServiceBResult(const Bytes& body) {
    const Text text = bytesToText(body);
    Text piece = extractFirstBetween(text, "hostnames.focus", "</pre>");
    piece = stripTags(piece);
    piece = replaceText(piece, "\n", crlf, true);
    piece = replaceText(piece, "();\r\n", "", true);
    return piece;
}

Text traceServiceCResult(const Bytes& body) {
    const Text text = bytesToText(body);
    Text piece = extractFirstBetween(text, "<pre>", "</pre>");
    return replaceText(piece, "\n", crlf, true);
}

Text traceServiceDViewState(const Bytes& firstReply) {
    return extractFirstBetween(bytesToText(firstReply), "__VIEWSTATE\" value=\"", "\"");
}

std::optional<Text> traceServiceDResult(const Bytes& secondReply, bool mayRetry) {
    const Text text = bytesToText(secondReply);
    const Text piece = extractFirstBetween(text, "(static data):", "Trace DNS Delegation");
    Text result = joinTexts(traceServiceDPrefix, piece);
    result = replaceText(result, "<br/>", crlf, true);
    if (mayRetry && findText(result, "|error|", 1, false) != -1) {
        return std::nullopt;
    }
    result = stripTags(result);
    if (mayRetry && findText(result, unknownText, 1, false) != -1) {
        return std::nullopt;
    }
    result = replaceText(result, "&quot;", "\"", true);
    result = replaceText(result, "&gt;", ">", true);
    result = replaceText(result, "&lt;", "<", true);
    return result;
}

void traceServiceA(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Bytes body = post(endpoints.requestPolicy, endpoints.traceServiceA, true,
                            joinTexts("host=", domain, "&opcode=digtrace"));
    context.outputBox.setText(traceServiceAResult(body));
}

void traceServiceB(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Text url = joinTexts(endpoints.traceServiceBRoot, "?hostnames=", domain,
                               "&type=&trace=on&ns=resolver&useresolver=", endpoints.traceResolver,
                               "&nameservers=");
    Bytes body;
    {
        RequestObject request(endpoints.requestPolicy);
        request.open("GET", url);
        setLookupHeaders(request, endpoints.traceServiceBRoot, true);
        request.send();
        body = request.responseBody();
    }
    context.outputBox.setText(traceServiceBResult(body));
}

void traceServiceC(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Bytes body = post(endpoints.requestPolicy, endpoints.traceServiceC, false,
                            joinTexts("d=", domain, "&n=localhost&q=A&t=t"));
    context.outputBox.setText(traceServiceCResult(body));
}

void traceServiceD(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const std::string& url = endpoints.traceServiceD;
    const Text firstBody =
        joinTexts("__EVENTTARGET=&__EVENTARGUMENT=&__VIEWSTATE=", endpoints.traceServiceDViewState,
                  "&__EVENTVALIDATION=", endpoints.traceServiceDEventValidation,
                  "&ctl00$cph$txtDomain=", domain, "&ctl00$cph$btnLookup=Trace");
    std::int32_t retries = 0;
    for (;;) {
        auto request = std::make_unique<RequestObject>(endpoints.requestPolicy);
        request->open("POST", url);
        setLookupHeaders(*request, url, false);
        request->send(firstBody);
        const Text viewState = traceServiceDViewState(request->responseBody());

        pauseWithEvents(traceServiceDPauseMs);

        // The partial postback goes through a fresh object, which takes the first one's place.
        request = std::make_unique<RequestObject>(endpoints.requestPolicy);
        request->open("POST", url);
        setLookupHeaders(*request, url, false);
        request->send(
            joinTexts("ctl00$cph$ScriptManager1=ctl00$cph$UpdatePanel1|ctl00$cph$Timer1"
                      "&__EVENTTARGET=ctl00$cph$Timer1&__EVENTARGUMENT=&__VIEWSTATE=",
                      viewState, "&__ASYNCPOST=true"));
        const Bytes secondReply = request->responseBody();
        request.reset();

        std::optional<Text> result =
            traceServiceDResult(secondReply, retries < traceServiceDMaxRetries);
        if (result) {
            context.outputBox.setText(*result);
            return;
        }
        ++retries;
    }
}

}  // namespace tessaly
