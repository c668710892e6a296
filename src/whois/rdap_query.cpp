#include "whois/rdap_query.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "base/log.h"
#include "net/request.h"
#include "text/codepage.h"
#include "text/idna.h"
#include "whois/rdap_answer.h"

namespace tessaly {
namespace {

constexpr std::string_view rdapMediaType = "application/rdap+json";

// The bootstrap registry of this run, once fetched.
struct RdapMemory {
    std::mutex fetching;  // held while it is fetched, so that workers at once fetch it once
    std::shared_ptr<const RdapBootstrap> bootstrap;  // under fetching
};

// The request object's bounds, with the smaller body cap of RDAP.
RequestPolicy rdapPolicy(const RequestPolicy& policy) {
    RequestPolicy rdap = policy;
    rdap.maxBodyBytes = std::min(rdap.maxBodyBytes, rdapBodyLimit);
    rdap.httpsOnly = true;  // registration data from the registry asked, never downgraded
    return rdap;
}

std::shared_ptr<const RdapBootstrap> bootstrapOfTheRun(const Endpoints& endpoints,
                                                       RdapMemory& memory) {
    std::lock_guard lock(memory.fetching);
    if (memory.bootstrap) {
        return memory.bootstrap;
    }
    const WebService& service = endpoints.rdapBootstrap;
    if (service.origin.empty()) {
        logLine(LogTopic::whois, "rdap: no bootstrap registry to ask");
        return nullptr;
    }
    const Text url = service.url();
    RequestObject request(rdapPolicy(endpoints.requestPolicy));
    request.open("GET", url);
    request.setRequestHeader("Accept", "application/json");
    request.send();
    if (!request.failure().empty() || request.status() != 200) {
        logLine(LogTopic::whois, "rdap: bootstrap ", url, " failed (status ", request.status(),
                "): ", request.failure());
        return nullptr;
    }
    std::optional<RdapBootstrap> parsed = parseRdapBootstrap(request.responseBody());
    if (!parsed) {
        logLine(LogTopic::whois, "rdap: bootstrap ", url, ": ", request.responseBody().size(),
                " bytes that are no bootstrap registry");
        return nullptr;
    }
    logLine(LogTopic::whois, "rdap: bootstrap ", url, ": ", parsed->basesOf.size(),
            " domain names with RDAP services, kept for the run");
    memory.bootstrap = std::make_shared<const RdapBootstrap>(std::move(*parsed));
    return memory.bootstrap;
}

RdapAnswer ask(const std::string& url, const Endpoints& endpoints, std::string_view aLabelName,
               std::string_view shownName) {
    logLine(LogTopic::whois, "rdap: asking ", url);
    RequestObject request(rdapPolicy(endpoints.requestPolicy));
    request.open("GET", url);
    request.setRequestHeader("Accept", rdapMediaType);
    request.send();
    RdapAnswer answer;
    if (!request.failure().empty()) {
        answer.why = "the request failed: " + request.failure();
    } else {
        answer =
            readRdapAnswer(request.responseBody(), request.status(), url, aLabelName, shownName);
    }
    logLine(LogTopic::whois, "rdap: ", url, ": status ", request.status(), ", ",
            answer.kind == RdapAnswerKind::domain     ? "the domain's registration"
            : answer.kind == RdapAnswerKind::notFound ? "no such domain"
                                                      : "nothing to show, " + answer.why);
    return answer;
}

}  // namespace

bool showRdapRegistration(std::string_view domain, LookupContext& context) {
    const std::optional<std::string> name = toALabels(domain);
    if (!name) {
        logLine(LogTopic::whois, "rdap: \"", gbkToUtf8(domain), "\" is no DNS name; not asked");
        return false;
    }
    RunMemory forThisLookup;
    RdapMemory& memory =
        (context.memory != nullptr ? *context.memory : forThisLookup).of<RdapMemory>();
    const std::shared_ptr<const RdapBootstrap> bootstrap =
        bootstrapOfTheRun(context.endpoints, memory);
    if (!bootstrap) {
        logLine(LogTopic::whois, "rdap: nothing shown for ", *name, ": no bootstrap registry");
        return false;
    }
    const std::vector<std::string> bases = rdapBasesFor(*bootstrap, *name);
    if (bases.empty()) {
        logLine(LogTopic::whois, "rdap: nothing shown for ", *name, ": no RDAP service over HTTPS");
        return false;
    }
    const std::string shownName = gbkToUtf8(domain);
    for (const std::string& base : bases) {
        const std::string url = base + "domain/" + *name;
        const RdapAnswer answer = ask(url, context.endpoints, *name, shownName);
        if (answer.kind == RdapAnswerKind::notRdap) {
            continue;  // the next base, if any
        }
        std::string text = answer.text;
        if (!answer.registrarUrl.empty()) {
            const RdapAnswer registrar =
                ask(answer.registrarUrl, context.endpoints, *name, shownName);
            if (registrar.kind == RdapAnswerKind::domain) {
                text += "\r\n" + registrar.text;
            }
        }
        context.outputBox.setText(utf8ToGbk(text));
        return true;
    }
    logLine(LogTopic::whois, "rdap: nothing shown for ", *name, ": no base answered");
    return false;
}

}  // namespace tessaly
