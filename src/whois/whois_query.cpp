#include "whois/whois_query.h"

#include <array>

#include "base/log.h"
#include "text/codepage.h"
#include "whois/rdap_query.h"
#include "whois/whois_referral.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

// Under these the registry holds three labels (example.com.cn, example.co.uk). Compared
// byte for byte. Kept on purpose: only the lower-case forms count, so "COM" in
// www.example.COM.cn is an ordinary label and the name is reduced to COM.cn.
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
    // Kept on purpose: only "http://" goes (in any case, wherever it stands); an HTTPS
    // prefix, a path, a port or white space stay and end up in the labels.
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
        logLine(LogTopic::whois, "queryWhoisServer: \"", gbkToUtf8(domain),
                "\" has fewer than two labels; nothing is asked");
        return;  // the box keeps what it holds, as after a failed connect
    }
    Text host = whoisServerFor(reduced.topLevel);
    if (host.empty()) {
        logLine(LogTopic::whois, "queryWhoisServer: no server in the table for \"",
                gbkToUtf8(reduced.topLevel), "\"");
        // IANA names the server, if any; its exchange leaves the window's client alone.
        host = whoisServerByReferral(reduced.topLevel, context);
    }
    // An empty host fails, but only after the previous connection has been closed.
    const WhoisConnectionToken connection =
        context.whoisClient.connect(host, context.endpoints.whoisPort);
    if (!connection) {
        if (connection.gaveWayToANewerConnect()) {
            return;  // a newer lookup has the client now: this one writes nothing at all
        }
        // No WHOIS connection: RDAP may still hold the registration. When it yields nothing,
        // nothing is written, as after any failed connect.
        showRdapRegistration(domain, context);
        return;
    }
    logLine(LogTopic::whois, "queryWhoisServer: asking ", host, ":", context.endpoints.whoisPort,
            " for ", gbkToUtf8(domain));
    context.outputBox.setText(busyText);
    // Kept on purpose: the query line ends LF then CR, in that order, not the usual CR LF;
    // the servers asked answer it as it is.
    context.whoisClient.send(connection, joinTexts(domain, charFromCode(10), charFromCode(13)));
}

void onWhoisDataArrived(const Bytes& data, Text& answerSoFar, OutputBox& outputBox) {
    // Kept on purpose: every LF becomes CR LF, also one that a CR precedes already, so an
    // answer with CR LF line ends shows CR CR LF; and a zero byte ends its arrival.
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
    logLine(LogTopic::whois, "answer: ", data.size(), " bytes arrived, ", answerSoFar.size(),
            " bytes shown so far");
}

}  // namespace tessaly
