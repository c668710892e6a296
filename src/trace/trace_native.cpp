#include "trace/trace_native.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "base/log.h"
#include "text/idna.h"

namespace tessaly {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view crlf = "\r\n";

bool isIpv6(std::string_view address) {
    return address.find(':') != std::string_view::npos;
}

bool isAddressType(std::uint16_t type, bool useIpv6) {
    return type == dnsType::a || (useIpv6 && type == dnsType::aaaa);
}

// The addresses the records give the name, IPv4 first.
std::vector<std::string> addressesOf(const std::vector<DnsRecord>& records, std::string_view name,
                                     bool useIpv6) {
    std::vector<std::string> v4, v6;
    for (const DnsRecord& r : records) {
        if (r.owner == name && !r.target.empty() && isAddressType(r.type, useIpv6)) {
            (r.type == dnsType::a ? v4 : v6).push_back(r.target);
        }
    }
    v4.insert(v4.end(), v6.begin(), v6.end());
    return v4;
}

// The addresses an answer gives the name, through the aliases it holds for it.
std::vector<std::string> answerAddresses(const std::vector<DnsRecord>& answer, std::string name,
                                         bool useIpv6) {
    constexpr int mostAliases = 8;
    for (int hop = 0; hop <= mostAliases; ++hop) {
        std::vector<std::string> found = addressesOf(answer, name, useIpv6);
        if (!found.empty()) {
            return found;
        }
        auto alias = std::find_if(answer.begin(), answer.end(), [&](const DnsRecord& r) {
            return r.owner == name && r.type == dnsType::cname && !r.target.empty();
        });
        if (alias == answer.end()) {
            break;
        }
        name = alias->target;
    }
    return {};
}

std::vector<NativeServer> serversNamed(const std::vector<DnsRecord>& nsRecords,
                                       std::string_view owner,
                                       const std::vector<DnsRecord>& addressRecords, bool useIpv6) {
    std::vector<NativeServer> servers;
    for (const DnsRecord& r : nsRecords) {
        if (r.type != dnsType::ns || r.owner != owner || r.target.empty()) {
            continue;
        }
        const bool known = std::any_of(servers.begin(), servers.end(),
                                       [&](const NativeServer& s) { return s.name == r.target; });
        if (!known) {
            servers.push_back({r.target, addressesOf(addressRecords, r.target, useIpv6)});
        }
    }
    return servers;
}

// "ns1.example.com." as dig names a server: without the final dot.
std::string serverName(std::string_view name) {
    if (name.size() > 1 && name.back() == '.') {
        name.remove_suffix(1);
    }
    return std::string(name);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::string();
    }
    // A root hints file is a few kilobytes; a larger one is read no further than this.
    constexpr std::size_t most = 256 * 1024;
    std::string text(most, '\0');
    file.read(text.data(), static_cast<std::streamsize>(most));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

// One walk: its budget, the servers it knows and what it has written.
class Walk {
public:
    Walk(const NativeTraceSettings& settings, OutputBox& box)
        : settings_(settings),
          box_(box),
          deadline_(Clock::now() + settings.walkTimeout),
          useIpv6_(hasIpv6Route(settings.ipv6RouteProbe)) {
        if (!settings.resolvConfPath.empty()) {
            resolvers_ = systemResolvers(settings.resolvConfPath);
        }
    }

    void run(const std::string& name) {
        logLine(LogTopic::trace, "traceNative: walks for ", name, " (", resolvers_.size(),
                " resolvers, IPv6 ", useIpv6_ ? "used" : "not used", ")");
        if (!findRootServers()) {
            logLine(LogTopic::trace, "traceNative: no root server known; writes nothing");
            return;
        }
        const Outcome outcome = iterate(name, dnsType::a, true, 0);
        if (!outcome.finished) {
            if (written_) {
                std::string lines;
                for (const std::string& line : outcome.why) {
                    lines += ";; " + line + std::string(crlf);
                }
                box_.appendText(lines);
            }
            logLine(LogTopic::trace, "traceNative: ends without an answer after ", queries_,
                    " queries", written_ ? "" : "; nothing received, writes nothing");
        } else {
            logLine(LogTopic::trace, "traceNative: ends with the answer after ", queries_,
                    " queries");
        }
    }

private:
    struct Outcome {
        bool finished = false;               // an answer, an alias, NXDOMAIN or no data
        std::vector<std::string> addresses;  // those the answer gives the name
        std::vector<std::string> why;        // when not finished
    };

    // Why no further query may be sent, or empty while the budget allows one.
    std::string exhausted() const {
        if (queries_ >= settings_.maxQueries) {
            return "the trace stops: it has sent " + std::to_string(queries_) +
                   " queries, the most one trace sends";
        }
        if (Clock::now() >= deadline_) {
            return "the trace stops: " + std::to_string(settings_.walkTimeout.count()) +
                   " ms have passed, the longest one trace takes";
        }
        return std::string();
    }

    // One query within the budget; nullopt when none may be sent.
    std::optional<DnsExchange> ask(const std::string& address, std::string_view label,
                                   const DnsQuestion& question) {
        if (!exhausted().empty()) {
            return std::nullopt;
        }
        ++queries_;
        // Rounded up, so that a wait the walk's end cuts short ends at or after that end.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now());
        const auto wait =
            std::max(std::chrono::milliseconds(1), std::min(settings_.queryTimeout, left));
        DnsExchange ex = exchangeDns({address, settings_.dnsPort}, question, wait);
        std::string result;
        if (ex.outcome == DnsExchange::Outcome::reply) {
            result = dnsRcodeName(ex.reply->rcode) + (ex.reply->authoritative ? " aa" : "") + ", " +
                     std::to_string(ex.reply->wireBytes) + " bytes" +
                     (ex.overTcp ? " over TCP" : "");
        } else {
            result = "no reply (" + ex.failure + ")";
        }
        logLine(LogTopic::trace, "traceNative: query ", queries_, ": ", question.name, " ",
                dnsTypeName(question.type), question.recursionDesired ? " +rd" : " norec", " to ",
                address, "#", settings_.dnsPort, "(", label, ") in ", ex.elapsed.count(),
                " ms: ", result);
        return ex;
    }

    std::string serverLabel(const std::string& address, std::string_view name) const {
        return address + "#" + std::to_string(settings_.dnsPort) + "(" + serverName(name) + ")";
    }

    void show(const std::string& block) {
        if (!written_) {
            box_.setText(firstNote_ + block);
            written_ = true;
        } else {
            box_.appendText(block);
        }
    }

    // A question to the system's resolver, with recursion; a resolver that gives no reply is
    // not asked again in this walk.
    std::optional<DnsReply> askResolver(const DnsQuestion& question, std::string& shownBy,
                                        std::chrono::milliseconds& elapsed) {
        for (const std::string& resolver : resolvers_) {
            if (deadResolvers_.count(resolver) != 0) {
                continue;
            }
            std::optional<DnsExchange> ex = ask(resolver, resolver, question);
            if (!ex) {
                return std::nullopt;
            }
            if (ex->outcome != DnsExchange::Outcome::reply) {
                deadResolvers_.insert(resolver);
                continue;
            }
            shownBy = serverLabel(resolver, resolver);
            elapsed = ex->elapsed;
            return std::move(ex->reply);
        }
        return std::nullopt;
    }

    // The root servers: the resolver's answer to ". NS", else the root hints.
    bool findRootServers() {
        std::string shownBy;
        std::chrono::milliseconds elapsed{0};
        std::optional<DnsReply> reply;
        for (std::size_t tries = 0; tries < resolvers_.size(); ++tries) {
            reply = askResolver({".", dnsType::ns, true, true}, shownBy, elapsed);
            if (!reply) {
                break;
            }
            if (reply->rcode == dnsRcode::noError) {
                roots_ = serversNamed(reply->answer, ".", reply->additional, useIpv6_);
                if (!roots_.empty()) {
                    show(traceBlock(*reply, {}, shownBy, elapsed));
                    return true;
                }
            }
            // A resolver that answers without the root servers is asked no more for them.
            deadResolvers_.insert(shownBy.substr(0, shownBy.find('#')));
        }
        std::string source = settings_.rootHintsPath;
        if (!settings_.rootHintsPath.empty()) {
            roots_ = serversOfRoot(parseZoneRecords(readFile(settings_.rootHintsPath)), useIpv6_);
        }
        if (roots_.empty()) {
            source = "the built-in copy";
            roots_ = serversOfRoot(parseZoneRecords(settings_.builtInRootHints), useIpv6_);
        }
        if (roots_.empty()) {
            return false;
        }
        logLine(LogTopic::trace, "traceNative: the resolver named no root server; ", roots_.size(),
                " from the root hints (", source, ")");
        firstNote_ = ";; The resolver named no root server; the root hints (" + source +
                     ") are used." + std::string(crlf) + std::string(crlf);
        return true;
    }

    // The address of a server that came without glue: from the resolver, else by a walk of its
    // own (not shown) while the depth allows one. Each name is looked up once per walk, and a
    // name whose lookup needs its own address gets none.
    std::string addressOfServer(const std::string& name, int depth) {
        if (const auto known = looked_.find(name); known != looked_.end()) {
            return known->second;
        }
        if (!resolving_.insert(name).second) {
            logLine(LogTopic::trace, "traceNative: the address of ", name, " needs itself");
            return std::string();
        }
        std::string address = lookUpServer(name, depth);
        resolving_.erase(name);
        if (exhausted().empty()) {
            looked_[name] = address;  // a lookup the budget cut short may be tried again
        }
        return address;
    }

    std::string lookUpServer(const std::string& name, int depth) {
        std::vector<std::uint16_t> types{dnsType::a};
        if (useIpv6_) {
            types.push_back(dnsType::aaaa);
        }
        for (std::uint16_t type : types) {
            std::string by;
            std::chrono::milliseconds elapsed{0};
            const std::optional<DnsReply> reply =
                askResolver({name, type, true, true}, by, elapsed);
            if (reply && reply->rcode == dnsRcode::noError) {
                const std::vector<std::string> found =
                    answerAddresses(reply->answer, name, useIpv6_);
                if (!found.empty()) {
                    return found.front();
                }
            }
        }
        if (depth >= settings_.gluelessDepth) {
            logLine(LogTopic::trace, "traceNative: no address for ", name,
                    ", and no deeper walk for it (", depth, " deep)");
            return std::string();
        }
        const Outcome outcome = iterate(name, dnsType::a, false, depth + 1);
        return outcome.addresses.empty() ? std::string() : outcome.addresses.front();
    }

    // From the root down to the answer for (name, type). A visible walk shows each reply it
    // follows; a walk for a server's address (depth > 0) shows none.
    Outcome iterate(const std::string& name, std::uint16_t type, bool visible, int depth) {
        std::string zone = ".";
        std::vector<NativeServer> servers = roots_;
        for (;;) {
            // Servers with a known address first, IPv4 before IPv6; then those without.
            std::vector<std::pair<std::string, std::string>> candidates;  // (name, address)
            std::set<std::string> seen;
            for (int pass = 0; pass < 2; ++pass) {
                for (const NativeServer& s : servers) {
                    for (const std::string& a : s.addresses) {
                        if (isIpv6(a) == (pass == 1) && seen.insert(a).second) {
                            candidates.emplace_back(s.name, a);
                        }
                    }
                }
            }
            for (const NativeServer& s : servers) {
                if (s.addresses.empty()) {
                    candidates.emplace_back(s.name, std::string());
                }
            }

            std::vector<std::string> failures;
            bool referred = false;
            int tried = 0;
            for (const auto& [server, known] : candidates) {
                if (tried == settings_.serversPerZone || !exhausted().empty()) {
                    break;
                }
                ++tried;
                const std::string address = known.empty() ? addressOfServer(server, depth) : known;
                if (address.empty()) {
                    failures.push_back(serverName(server) + ": no address found for it");
                    continue;
                }
                const std::string label = serverLabel(address, server);
                const std::optional<DnsExchange> ex =
                    ask(address, server, {name, type, false, true});
                if (!ex) {
                    break;
                }
                if (ex->outcome != DnsExchange::Outcome::reply) {
                    failures.push_back(label + ": no reply (" + ex->failure + ")");
                    continue;
                }
                ReplyVerdict verdict = judgeReply(*ex->reply, zone, name, type, useIpv6_);
                std::vector<std::string> notes;
                switch (verdict.kind) {
                    case ReplyVerdict::Kind::unusable:
                        failures.push_back(label + ": " + verdict.why);
                        continue;
                    case ReplyVerdict::Kind::referral:
                        if (visible) {
                            show(traceBlock(*ex->reply, {}, label, ex->elapsed));
                        }
                        logLine(LogTopic::trace, "traceNative: ", zone, " refers to ", verdict.zone,
                                " (", verdict.servers.size(), " servers)");
                        zone = verdict.zone;
                        servers = std::move(verdict.servers);
                        referred = true;
                        break;
                    case ReplyVerdict::Kind::nxDomain:
                        notes.push_back("NXDOMAIN: " + name + " does not exist");
                        break;
                    case ReplyVerdict::Kind::noData:
                        notes.push_back("NODATA: " + name + " has no " + dnsTypeName(type) +
                                        " record");
                        break;
                    case ReplyVerdict::Kind::cname:
                    case ReplyVerdict::Kind::answer:
                        break;
                }
                if (referred) {
                    break;
                }
                if (visible) {
                    show(traceBlock(*ex->reply, notes, label, ex->elapsed));
                }
                return {true, answerAddresses(ex->reply->answer, name, useIpv6_), {}};
            }
            if (referred) {
                continue;
            }
            Outcome outcome;
            outcome.why = std::move(failures);
            const std::string stop = exhausted();
            outcome.why.push_back(!stop.empty()
                                      ? stop
                                      : "the trace ends at " + zone +
                                            ": no server of it gave an answer or a referral closer "
                                            "to " +
                                            name);
            return outcome;
        }
    }

    const NativeTraceSettings& settings_;
    OutputBox& box_;
    const Clock::time_point deadline_;
    const bool useIpv6_;
    std::vector<std::string> resolvers_;
    std::set<std::string> deadResolvers_;
    std::vector<NativeServer> roots_;
    std::map<std::string, std::string> looked_;  // server name -> address ("" for none)
    std::set<std::string> resolving_;            // server names being looked up
    std::string firstNote_;                      // put before the first block
    int queries_ = 0;
    bool written_ = false;
};

}  // namespace

ReplyVerdict judgeReply(const DnsReply& reply, std::string_view zone, std::string_view name,
                        std::uint16_t type, bool useIpv6) {
    ReplyVerdict verdict;
    if (reply.rcode == dnsRcode::nxDomain) {
        if (reply.authoritative) {
            verdict.kind = ReplyVerdict::Kind::nxDomain;
        } else {
            verdict.why = "NXDOMAIN without the authoritative bit";
        }
        return verdict;
    }
    if (reply.rcode != dnsRcode::noError) {
        verdict.why = "rcode " + dnsRcodeName(reply.rcode);
        return verdict;
    }
    for (const DnsRecord& r : reply.answer) {
        if (r.owner == name && r.type == type) {
            verdict.kind = ReplyVerdict::Kind::answer;
            return verdict;
        }
    }
    for (const DnsRecord& r : reply.answer) {
        if (r.owner == name && r.type == dnsType::cname) {
            verdict.kind = ReplyVerdict::Kind::cname;
            return verdict;
        }
    }
    // A referral comes closer when it names a zone below the one asked and at or above the name.
    std::string notCloser;
    for (const DnsRecord& r : reply.authority) {
        if (r.type != dnsType::ns) {
            continue;
        }
        const bool holdsName = dnsNameIsAtOrBelow(name, r.owner);
        const bool belowZone = dnsNameIsAtOrBelow(r.owner, zone) && r.owner != zone;
        if (holdsName && belowZone) {
            verdict.servers = serversNamed(reply.authority, r.owner, reply.additional, useIpv6);
            if (!verdict.servers.empty()) {
                verdict.kind = ReplyVerdict::Kind::referral;
                verdict.zone = r.owner;
                return verdict;
            }
        }
        if (notCloser.empty()) {
            if (r.owner == zone) {
                notCloser =
                    "a referral to " + r.owner + " again, the zone it was asked as (a loop)";
            } else if (dnsNameIsAtOrBelow(zone, r.owner)) {
                notCloser = "an upward referral to " + r.owner;
            } else {
                notCloser =
                    "a referral to " + r.owner + ", which does not hold " + std::string(name);
            }
        }
    }
    if (reply.authoritative) {
        verdict.kind = ReplyVerdict::Kind::noData;
        return verdict;
    }
    verdict.why =
        !notCloser.empty() ? notCloser : "neither an answer nor a referral (a lame server)";
    return verdict;
}

std::vector<NativeServer> serversOfRoot(const std::vector<DnsRecord>& records, bool useIpv6) {
    return serversNamed(records, ".", records, useIpv6);
}

std::string traceBlock(const DnsReply& reply, const std::vector<std::string>& notes,
                       std::string_view server, std::chrono::milliseconds elapsed) {
    std::string block;
    for (const auto* section : {&reply.answer, &reply.authority}) {
        for (const DnsRecord& r : *section) {
            block += r.presentation;
            block += crlf;
        }
    }
    for (const std::string& note : notes) {
        block += ";; " + note + std::string(crlf);
    }
    block += ";; Received " + std::to_string(reply.wireBytes) + " bytes from " +
             std::string(server) + " in " + std::to_string(elapsed.count()) + " ms";
    block += crlf;
    block += crlf;
    return block;
}

void traceNative(Text& domain, LookupContext& context) {
    const std::optional<std::string> ascii = toALabels(domain);
    const std::optional<std::string> name =
        ascii ? canonicalDnsName(*ascii + ".") : std::optional<std::string>();
    if (!name) {
        logLine(LogTopic::trace, "traceNative: the domain (", domain.size(),
                " bytes) is no DNS name; writes nothing");
        return;
    }
    Walk(context.endpoints.nativeTrace, context.outputBox).run(*name);
}

}  // namespace tessaly
