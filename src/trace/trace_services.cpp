#include "trace/trace_services.h"

#include <cstdint>
#include <memory>

#include "base/log.h"
#include "net/request.h"
#include "text/extract.h"
#include "trace/pause.h"

namespace tessaly {
namespace {

constexpr std::string_view crlf = "\r\n";

// The pause between the two postbacks of one service D attempt, in milliseconds.
constexpr int traceServiceDPauseMs = 5;

// The reply of one request, and why it failed when it did (for the diagnostics).
struct Reply {
    Bytes body;
    long status = 0;
    std::string failure;
};

Reply replyOf(const RequestObject& request) {
    return {request.responseBody(), request.status(), request.failure()};
}

Reply post(const RequestPolicy& policy, const Text& url, bool withXRequestedWith,
           std::string_view body) {
    RequestObject request(policy);
    request.open("POST", url);
    setLookupHeaders(request, url, withXRequestedWith);
    request.send(body);
    return replyOf(request);
}

// What a service writes, and why it is the failure text when it is.
void logResult(std::string_view service, const Reply& reply, const Text& written) {
    if (!sameText(written, unknownText)) {
        logLine(LogTopic::trace, service, ": writes ", written.size(), " bytes of trace");
    } else if (!reply.failure.empty()) {
        logLine(LogTopic::trace, service, ": the request failed (", reply.failure,
                "); writes \"未知\"");
    } else {
        logLine(LogTopic::trace, service, ": status ", reply.status, ", ", reply.body.size(),
                " bytes without the trace's markers; writes \"未知\"");
    }
}

}  // namespace

Text traceServiceAResult(const Bytes& body) {
    Text text = bytesToText(body);
    // The JSON escapes of line feed and tab, as the body carries them. Kept on purpose: no
    // other escape is decoded, and the start marker below ends in the CR LF made here.
    text = replaceText(text, "\\n", crlf, true);
    text = replaceText(text, "\\t", " ", true);
    return extractFirstBetween(text, "info\": \"\r\n", "\"");
}

Text traceServiceBResult(const Bytes& body) {
    const Text text = bytesToText(body);
    Text piece = extractFirstBetween(text, "hostnames.focus", "</pre>");
    piece = stripTags(piece);
    piece = replaceText(piece, "\n", crlf, true);
    // Kept on purpose: after the line ends were made CR LF, so a "();" goes only where a
    // bare LF followed it in the body.
    piece = replaceText(piece, "();\r\n", "", true);
    return piece;
}

Text traceServiceCResult(const Bytes& body) {
    const Text text = bytesToText(body);
    // Kept on purpose: the pre block is written with its tags and references as they are.
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
    // Kept on purpose: decoded after the tags were stripped, so "&lt;b&gt;" becomes a real
    // tag in the text, and "&amp;" stays as it is.
    result = replaceText(result, "&quot;", "\"", true);
    result = replaceText(result, "&gt;", ">", true);
    result = replaceText(result, "&lt;", "<", true);
    return result;
}

void traceServiceA(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Reply reply = post(endpoints.requestPolicy, endpoints.traceServiceA.url(), true,
                             joinTexts("host=", domain, "&opcode=digtrace"));
    const Text written = traceServiceAResult(reply.body);
    logResult("traceServiceA", reply, written);
    context.outputBox.setText(written);
}

void traceServiceB(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Text root = endpoints.traceServiceB.url();
    const Text url = joinTexts(root, "?hostnames=", domain,
                               "&type=&trace=on&ns=resolver&useresolver=", endpoints.traceResolver,
                               "&nameservers=");
    Reply reply;
    {
        RequestObject request(endpoints.requestPolicy);
        request.open("GET", url);
        // Kept on purpose: Content-Type and X-Requested-With go with this GET too.
        setLookupHeaders(request, root, true);
        request.send();
        reply = replyOf(request);
    }
    const Text written = traceServiceBResult(reply.body);
    logResult("traceServiceB", reply, written);
    context.outputBox.setText(written);
}

void traceServiceC(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Reply reply = post(endpoints.requestPolicy, endpoints.traceServiceC.url(), false,
                             joinTexts("d=", domain, "&n=localhost&q=A&t=t"));
    const Text written = traceServiceCResult(reply.body);
    logResult("traceServiceC", reply, written);
    context.outputBox.setText(written);
}

void traceServiceD(Text& domain, LookupContext& context) {
    const Endpoints& endpoints = context.endpoints;
    const Text url = endpoints.traceServiceD.url();
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
        // Kept on purpose: a first reply without a view state sends "未知" in its place.
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
        const Reply secondReply = replyOf(*request);
        request.reset();

        std::optional<Text> result =
            traceServiceDResult(secondReply.body, retries < traceServiceDMaxRetries);
        const std::string why = secondReply.failure.empty()
                                    ? "status " + std::to_string(secondReply.status) + ", " +
                                          std::to_string(secondReply.body.size()) + " bytes"
                                    : "the request failed: " + secondReply.failure;
        if (result) {
            logLine(LogTopic::trace, "traceServiceD: attempt ", retries + 1, " (", why, ") writes ",
                    result->size(), " bytes",
                    findText(*result, unknownText, 1, false) != -1 ? ", without a trace" : "");
            context.outputBox.setText(*result);
            return;
        }
        logLine(LogTopic::trace, "traceServiceD: attempt ", retries + 1, " (", why,
                ") has an error or no trace; tries again");
        ++retries;
    }
}

}  // namespace tessaly
