// The native trace against small DNS servers on loopback addresses: a resolver on 127.0.53.1,
// the root on .2, the TLD "test." on .3 and "example.test." on .4 (more where a case needs
// them), all on one port. Each case sets what its servers answer and checks what the output
// box shows and which queries the servers saw.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/chains.h"
#include "net/dns_client.h"
#include "net/request.h"
#include "support/dns_server.h"
#include "support/http_server.h"
#include "support/loopback_endpoints.h"
#include "support/memory_ports.h"
#include "trace/trace_native.h"
#include "trace/trace_services.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::DnsHandler;
using testing::DnsReplyParts;
using testing::DnsTestNetwork;
using testing::DnsTestServer;
using testing::MemoryOutputBox;
using testing::SeenQuery;
using Messages = std::vector<std::string>;

const std::string resolverAddress = "127.0.53.1";
const std::string rootAddress = "127.0.53.2";
const std::string tldAddress = "127.0.53.3";
const std::string domainAddress = "127.0.53.4";

const std::string serviceDFailure = std::string(traceServiceDPrefix) + std::string(unknownText);

const std::string dsRecord =
    "test. 86400 IN DS 4242 13 2 "
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string rrsigRecord =
    "test. 86400 IN RRSIG DS 13 1 86400 20300101000000 20200101000000 12345 . "
    "c2lnbmF0dXJlIG9mIHRoZSBEUyBzZXQ=";

Messages reply(const std::string& wire, const DnsReplyParts& parts) {
    return {testing::dnsReply(wire, parts)};
}

// The resolver: the root servers for ". NS" (with glue), REFUSED for anything else unless
// names gives the name an address.
DnsHandler resolverNaming(std::vector<std::pair<std::string, std::string>> names = {}) {
    return [names](const SeenQuery& q, const std::string& wire) {
        if (q.name == "." && q.type == dnsType::ns) {
            return reply(wire, {.answer = {". 518400 IN NS a.root.test."},
                                .additional = {"a.root.test. 518400 IN A " + rootAddress}});
        }
        for (const auto& [name, address] : names) {
            if (q.name == name && q.type == dnsType::a) {
                return reply(wire, {.answer = {name + " 300 IN A " + address}});
            }
        }
        return reply(wire, {.rcode = 5});
    };
}

// A server of zone that refers every name below child to the servers given as (name,
// address); an empty address sends the name without glue.
DnsHandler referring(std::string child, std::vector<std::pair<std::string, std::string>> servers,
                     std::vector<std::string> extra = {}) {
    return [=](const SeenQuery& q, const std::string& wire) {
        DnsReplyParts parts;
        if (!dnsNameIsAtOrBelow(q.name, child)) {
            parts.rcode = dnsRcode::nxDomain;
            parts.aa = true;
            return reply(wire, parts);
        }
        for (const auto& [name, address] : servers) {
            parts.authority.push_back(child + " 172800 IN NS " + name);
            if (!address.empty()) {
                parts.additional.push_back(name + " 172800 IN A " + address);
            }
        }
        parts.authority.insert(parts.authority.end(), extra.begin(), extra.end());
        return reply(wire, parts);
    };
}

DnsHandler answering(DnsReplyParts parts) {
    return [parts](const SeenQuery&, const std::string& wire) { return reply(wire, parts); };
}

DnsHandler silent() {
    return [](const SeenQuery&, const std::string&) { return Messages{}; };
}

const DnsReplyParts wwwAnswer{.aa = true, .answer = {"www.example.test. 300 IN A 127.0.53.80"}};

// A file that lives as long as the object.
struct TempFile {
    explicit TempFile(const std::string& text) {
        static int serial = 0;
        path = (std::filesystem::temp_directory_path() /
                ("tessaly-native-" + std::to_string(::getpid()) + "-" + std::to_string(++serial)))
                   .string();
        std::ofstream(path, std::ios::binary) << text;
    }
    ~TempFile() { std::filesystem::remove(path); }
    std::string path;
};

// The servers of one case and a walk over them.
struct Walk {
    DnsTestNetwork net;
    TempFile resolvConf{"nameserver " + resolverAddress + "\n"};
    NativeTraceSettings settings = shortBounds();

    static NativeTraceSettings shortBounds() {
        NativeTraceSettings s;
        s.queryTimeout = 300ms;  // a silent server costs the tests little
        s.walkTimeout = 15s;
        return s;
    }

    // The resolver, the root, "test." and "example.test.", answering www.example.test.
    void addStandardServers(DnsHandler domain = answering(wwwAnswer)) {
        net.add(resolverAddress, resolverNaming());
        net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
        net.add(tldAddress, referring("example.test.", {{"ns1.example.test.", domainAddress}}));
        net.add(domainAddress, std::move(domain));
    }

    // The walk's settings with this resolver and these servers, into endpoints.
    void pointAt(Endpoints& endpoints) {
        settings.resolvConfPath = resolvConf.path;
        settings.dnsPort = net.port();
        endpoints.nativeTrace = settings;
    }

    // The box after traceNative ran on domain, the box holding D's failure text before.
    MemoryOutputBox& run(const std::string& domain) {
        Endpoints endpoints;
        pointAt(endpoints);
        testing::UnreachableWhoisConnection whois;
        LookupContext context{box, whois, endpoints};
        Text text = domain;
        traceNative(text, context);
        return box;
    }

    // The box's text with the times, sizes and the port made fixed: " in T ms", "N bytes",
    // "#53(".
    std::string shown() {
        std::string text = box.readText();
        text = std::regex_replace(text, std::regex(" in [0-9]+ ms"), " in T ms");
        text = std::regex_replace(text, std::regex("Received [0-9]+ bytes"), "Received N bytes");
        text =
            std::regex_replace(text, std::regex("#" + std::to_string(net.port()) + "\\("), "#53(");
        return text;
    }

    MemoryOutputBox box{serviceDFailure};
};

std::string lines(std::initializer_list<std::string> each) {
    std::string out;
    for (const std::string& line : each) {
        out += line + "\r\n";
    }
    return out;
}

// ---- the walk -------------------------------------------------------------------------

TEST(NativeTrace, WalksFromTheRootToTheAnswerShowingEachReplyAsItComes) {
    Walk walk;
    walk.net.add(resolverAddress, resolverNaming());
    walk.net.add(rootAddress,
                 referring("test.", {{"ns1.nic.test.", tldAddress}}, {dsRecord, rrsigRecord}));
    walk.net.add(tldAddress, referring("example.test.", {{"ns1.example.test.", domainAddress}}));
    DnsTestServer& domain = walk.net.add(domainAddress, answering(wwwAnswer));
    walk.run("WWW.Example.Test");

    const std::string root =
        lines({".\t518400\tIN\tNS\ta.root.test.",
               ";; Received N bytes from 127.0.53.1#53(127.0.53.1) in T ms", ""});
    const std::string tld =
        lines({"test.\t172800\tIN\tNS\tns1.nic.test.",
               "test.\t86400\tIN\tDS\t4242 13 2 "
               "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
               "test.\t86400\tIN\tRRSIG\tDS 13 1 86400 20300101000000 20200101000000 12345 . "
               "c2lnbmF0dXJlIG9mIHRoZSBEUyBzZXQ=",
               ";; Received N bytes from 127.0.53.2#53(a.root.test) in T ms", ""});
    const std::string domainBlock =
        lines({"example.test.\t172800\tIN\tNS\tns1.example.test.",
               ";; Received N bytes from 127.0.53.3#53(ns1.nic.test) in T ms", ""});
    const std::string answer =
        lines({"www.example.test.\t300\tIN\tA\t127.0.53.80",
               ";; Received N bytes from 127.0.53.4#53(ns1.example.test) in T ms", ""});
    EXPECT_EQ(walk.shown(), root + tld + domainBlock + answer);

    // The first block replaces D's failure text; each later one is appended on its own.
    const auto log = walk.box.log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].first, "set");
    for (std::size_t i = 1; i < log.size(); ++i) {
        EXPECT_EQ(log[i].first, "append");
    }
    EXPECT_NE(log[3].second.find("www.example.test."), std::string::npos);

    // The resolver is asked with recursion, the zones' servers without, all with DO.
    const std::vector<SeenQuery> asked = domain.queries();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].name, "www.example.test.");
    EXPECT_EQ(asked[0].type, dnsType::a);
    EXPECT_FALSE(asked[0].recursionDesired);
    EXPECT_TRUE(asked[0].dnssecOk);
    EXPECT_FALSE(asked[0].overTcp);
    EXPECT_EQ(walk.net.totalQueries(), 4u);
}

TEST(NativeTrace, ServersWithoutGlueAreFoundThroughTheResolverOrAWalkOfTheirOwn) {
    // "test." refers to ns.dns.other. without glue. The resolver knows its address, or the
    // walk finds it: the root refers other. to 127.0.53.5, which answers with the address.
    for (const bool resolverKnows : {true, false}) {
        Walk walk;
        walk.net.add(
            resolverAddress,
            resolverNaming(resolverKnows
                               ? std::vector<std::pair<std::string, std::string>>{{"ns.dns.other.",
                                                                                   domainAddress}}
                               : std::vector<std::pair<std::string, std::string>>{}));
        walk.net.add(rootAddress, [](const SeenQuery& q, const std::string& wire) {
            if (dnsNameIsAtOrBelow(q.name, "other.")) {
                return reply(wire, {.authority = {"other. 172800 IN NS ns.other."},
                                    .additional = {"ns.other. 172800 IN A 127.0.53.5"}});
            }
            return reply(wire, {.authority = {"test. 172800 IN NS ns1.nic.test."},
                                .additional = {"ns1.nic.test. 172800 IN A " + tldAddress}});
        });
        walk.net.add(tldAddress, referring("example.test.", {{"ns.dns.other.", ""}}));
        walk.net.add(domainAddress, answering(wwwAnswer));
        DnsTestServer& other = walk.net.add(
            "127.0.53.5",
            answering({.aa = true, .answer = {"ns.dns.other. 300 IN A " + domainAddress}}));
        walk.run("www.example.test");

        const std::string shown = walk.shown();
        EXPECT_NE(shown.find("www.example.test.\t300\tIN\tA\t127.0.53.80\r\n;; Received N bytes "
                             "from 127.0.53.4#53(ns.dns.other) in T ms\r\n\r\n"),
                  std::string::npos)
            << shown;
        // The walk for the server's address shows nothing of its own.
        EXPECT_EQ(shown.find("other.\t172800"), std::string::npos) << shown;
        EXPECT_EQ(other.queries().size(), resolverKnows ? 0u : 1u);
    }
}

TEST(NativeTrace, GluelessChainsEndWithinTheirDepth) {
    // The resolver knows no server name. "needs itself": example.test.'s only server is
    // ns.example.test. without glue. "endless": example.test.'s server is ns.a.test., whose
    // zone a.test. has ns.b.test., and so on, none with glue.
    for (const bool needsItself : {true, false}) {
        Walk walk;
        walk.net.add(resolverAddress, resolverNaming());
        walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
        DnsTestServer& tld =
            walk.net.add(tldAddress, [needsItself](const SeenQuery& q, const std::string& wire) {
                // The zone below test. that holds the name, and the server of the next one.
                const std::string below =
                    q.name.substr(0, q.name.size() - std::string("test.").size());
                const std::string label = below.substr(below.rfind('.', below.size() - 2) + 1);
                const std::string zone = label + "test.";
                const char next = label == "example." ? 'a' : static_cast<char>(label[0] + 1);
                const std::string server =
                    needsItself ? "ns.example.test." : std::string("ns.") + next + ".test.";
                return reply(wire, {.authority = {zone + " 172800 IN NS " + server}});
            });
        walk.run("www.example.test");
        const std::string shown = walk.shown();
        const std::string server = needsItself ? "ns.example.test" : "ns.a.test";
        EXPECT_NE(shown.find(";; " + server +
                             ": no address found for it\r\n;; the trace ends at example.test.: no "
                             "server of it gave an answer or a referral closer to "
                             "www.example.test.\r\n"),
                  std::string::npos)
            << shown;
        // Two walks deep at most: the walk for ns.b.test. finds it needs ns.c.test., which it
        // does not look for.
        std::set<std::string> asked;
        for (const SeenQuery& q : tld.queries()) {
            asked.insert(q.name);
        }
        const std::set<std::string> expected =
            needsItself ? std::set<std::string>{"www.example.test.", "ns.example.test."}
                        : std::set<std::string>{"www.example.test.", "ns.a.test.", "ns.b.test."};
        EXPECT_EQ(asked, expected);
        EXPECT_LE(walk.net.totalQueries(), 30u);
    }
}

TEST(NativeTrace, TruncatedReplyIsAskedAgainOverTcp) {
    struct Case {
        const char* name;
        std::function<Messages(const std::string& wire)> overTcp;
        bool answered;
    };
    const Case cases[] = {
        {"full reply", [](const std::string& w) { return reply(w, wwwAnswer); }, true},
        {"garbage", [](const std::string&) { return Messages{"\x01\x02garbage"}; }, false},
        {"closes at once", [](const std::string&) { return Messages{}; }, false},
        {"another id", [](const std::string& w) { return reply(w, {.aa = true, .idOffset = 1}); },
         false},
    };
    for (const Case& c : cases) {
        Walk walk;
        walk.addStandardServers([&c](const SeenQuery& q, const std::string& wire) {
            return q.overTcp ? c.overTcp(wire) : reply(wire, {.aa = true, .tc = true});
        });
        walk.run("www.example.test");
        const std::string shown = walk.shown();
        EXPECT_EQ(shown.find("www.example.test.\t300\tIN\tA\t127.0.53.80") != std::string::npos,
                  c.answered)
            << c.name << "\n"
            << shown;
        if (!c.answered) {
            EXPECT_NE(shown.find(";; 127.0.53.4#53(ns1.example.test): no reply (truncated over "
                                 "UDP; "),
                      std::string::npos)
                << c.name << "\n"
                << shown;
        }
    }
}

TEST(NativeTrace, SilentOrMismatchedServerGivesWayToTheNextOfItsZone) {
    // example.test. has three servers; the first two fail in the case's way, the third answers.
    struct Case {
        const char* name;
        DnsHandler failing;
    };
    const Case cases[] = {
        {"silent", silent()},
        {"another id only",
         [](const SeenQuery&, const std::string& w) { return reply(w, {.idOffset = 7}); }},
        {"garbage", [](const SeenQuery&, const std::string&) { return Messages{"\xff\xfe\x00"}; }},
    };
    for (const Case& c : cases) {
        Walk walk;
        walk.net.add(resolverAddress, resolverNaming());
        walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
        walk.net.add(tldAddress, referring("example.test.", {{"a.example.test.", "127.0.53.4"},
                                                             {"b.example.test.", "127.0.53.5"},
                                                             {"c.example.test.", "127.0.53.6"}}));
        DnsTestServer& a = walk.net.add("127.0.53.4", c.failing);
        DnsTestServer& b = walk.net.add("127.0.53.5", c.failing);
        walk.net.add("127.0.53.6", answering(wwwAnswer));
        walk.run("www.example.test");
        EXPECT_EQ(a.queries().size(), 1u) << c.name;
        EXPECT_EQ(b.queries().size(), 1u) << c.name;
        const std::string shown = walk.shown();
        const std::string tail =
            "www.example.test.\t300\tIN\tA\t127.0.53.80\r\n;; Received N bytes from "
            "127.0.53.6#53(c.example.test) in T ms\r\n\r\n";
        ASSERT_GE(shown.size(), tail.size()) << c.name;
        EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail) << c.name << "\n" << shown;
    }
}

TEST(NativeTrace, RepliesToOtherQueriesAreIgnoredWhileTheRightOneMayStillCome) {
    Walk walk;
    walk.addStandardServers([](const SeenQuery&, const std::string& wire) {
        return Messages{
            testing::dnsReply(
                wire,
                {.aa = true, .answer = {"www.example.test. 1 IN A 127.0.53.66"}, .idOffset = 1}),
            testing::dnsReply(wire, {.aa = true,
                                     .answer = {"evil.example.test. 1 IN A 127.0.53.66"},
                                     .questionName = "evil.example.test."}),
            std::string("\x12\x34 not a DNS message"),
            testing::dnsReply(wire, wwwAnswer),
        };
    });
    walk.run("www.example.test");
    const std::string shown = walk.shown();
    EXPECT_NE(shown.find("www.example.test.\t300\tIN\tA\t127.0.53.80"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("127.0.53.66"), std::string::npos) << shown;
}

TEST(NativeTrace, ALargeReplyIsReadWhole) {
    // 4096 bytes over UDP: A records, and a TXT record in the additional section that makes
    // the size exact.
    auto big = [](const std::string& wire, std::size_t pad) {
        DnsReplyParts parts{.aa = true};
        for (int i = 0; i < 250; ++i) {
            parts.answer.push_back("www.example.test. 300 IN A 127.0.53." + std::to_string(i));
        }
        parts.additional.push_back("pad.example.test. 1 IN TXT \"" + std::string(pad, 'p') + "\"");
        return testing::dnsReply(wire, parts);
    };
    Walk walk;
    walk.addStandardServers([&big](const SeenQuery&, const std::string& wire) {
        const std::size_t base = big(wire, 0).size();
        return Messages{big(wire, 4096 - base)};
    });
    walk.run("www.example.test");
    const std::string text = walk.box.readText();
    EXPECT_NE(text.find("www.example.test.\t300\tIN\tA\t127.0.53.249\r\n;; Received 4096 bytes "
                        "from 127.0.53.4#"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("www.example.test.\t300\tIN\tA\t127.0.53.0\r\n"), std::string::npos);
}

TEST(NativeTrace, FinalRepliesAreShownAsSuch) {
    struct Case {
        const char* name;
        DnsReplyParts parts;
        std::string shownAtTheEnd;
    };
    const std::string from = ";; Received N bytes from 127.0.53.4#53(ns1.example.test) in T ms";
    const std::string soa =
        "example.test. 3600 IN SOA ns1.example.test. admin.example.test. 1 7200 900 1209600 300";
    const std::string soaShown =
        "example.test.\t3600\tIN\tSOA\tns1.example.test. admin.example.test. 1 7200 900 1209600 "
        "300";
    const Case cases[] = {
        {"NXDOMAIN",
         {.aa = true, .rcode = dnsRcode::nxDomain, .authority = {soa}},
         lines({soaShown, ";; NXDOMAIN: www.example.test. does not exist", from, ""})},
        {"no data",
         {.aa = true, .authority = {soa}},
         lines({soaShown, ";; NODATA: www.example.test. has no A record", from, ""})},
        {"alias",
         {.aa = true, .answer = {"www.example.test. 300 IN CNAME web.elsewhere.test."}},
         lines({"www.example.test.\t300\tIN\tCNAME\tweb.elsewhere.test.", from, ""})},
    };
    for (const Case& c : cases) {
        Walk walk;
        walk.addStandardServers(answering(c.parts));
        walk.run("www.example.test");
        const std::string shown = walk.shown();
        ASSERT_GE(shown.size(), c.shownAtTheEnd.size()) << c.name;
        EXPECT_EQ(shown.substr(shown.size() - c.shownAtTheEnd.size()), c.shownAtTheEnd)
            << c.name << "\n"
            << shown;
        // The alias is the answer: its target is not asked for.
        EXPECT_EQ(walk.net.totalQueries(), 4u) << c.name;
    }
}

TEST(NativeTrace, RepliesThatComeNoCloserEndTheWalkWithWhy) {
    struct Case {
        const char* name;
        DnsReplyParts parts;
        std::string why;
    };
    const Case cases[] = {
        {"lame", {}, "neither an answer nor a referral (a lame server)"},
        {"loop",
         {.authority = {"example.test. 300 IN NS ns1.example.test."},
          .additional = {"ns1.example.test. 300 IN A " + domainAddress}},
         "a referral to example.test. again, the zone it was asked as (a loop)"},
        {"upward", {.authority = {". 300 IN NS a.root.test."}}, "an upward referral to ."},
        {"sideways",
         {.authority = {"other.test. 300 IN NS ns.other.test."}},
         "a referral to other.test., which does not hold www.example.test."},
        {"refused", {.rcode = 5}, "rcode REFUSED"},
        {"NXDOMAIN without authority",
         {.rcode = dnsRcode::nxDomain},
         "NXDOMAIN without the authoritative bit"},
    };
    for (const Case& c : cases) {
        Walk walk;
        walk.addStandardServers(answering(c.parts));
        walk.run("www.example.test");
        const std::string end =
            lines({";; 127.0.53.4#53(ns1.example.test): " + c.why,
                   ";; the trace ends at example.test.: no server of it gave an answer or a "
                   "referral closer to www.example.test."});
        const std::string shown = walk.shown();
        ASSERT_GE(shown.size(), end.size()) << c.name;
        EXPECT_EQ(shown.substr(shown.size() - end.size()), end) << c.name << "\n" << shown;
        // What was found stays: the three blocks before it.
        EXPECT_NE(shown.find("example.test.\t172800\tIN\tNS\tns1.example.test.\r\n"),
                  std::string::npos)
            << c.name;
    }
}

TEST(NativeTrace, AtMostThreeServersOfAZoneAreAsked) {
    Walk walk;
    walk.net.add(resolverAddress, resolverNaming());
    walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
    std::vector<std::pair<std::string, std::string>> servers;
    std::vector<DnsTestServer*> lame;
    for (int i = 4; i < 9; ++i) {
        const std::string address = "127.0.53." + std::to_string(i);
        servers.emplace_back("ns" + std::to_string(i) + ".example.test.", address);
        lame.push_back(&walk.net.add(address, answering({})));
    }
    walk.net.add(tldAddress, referring("example.test.", servers));
    walk.run("www.example.test");
    std::size_t asked = 0;
    for (DnsTestServer* server : lame) {
        asked += server->queries().size();
    }
    EXPECT_EQ(asked, 3u);
}

TEST(NativeTrace, BudgetsOfQueriesAndTimeEndTheWalk) {
    struct Case {
        const char* name;
        int maxQueries;
        std::chrono::milliseconds walkTimeout;
        bool silentDomain;
        std::string why;
    };
    const Case cases[] = {
        {"queries", 3, 15s, false,
         ";; the trace stops: it has sent 3 queries, the most one trace sends\r\n"},
        {"time", 30, 700ms, true,
         ";; the trace stops: 700 ms have passed, the longest one trace takes\r\n"},
    };
    for (const Case& c : cases) {
        Walk walk;
        walk.settings.maxQueries = c.maxQueries;
        walk.settings.walkTimeout = c.walkTimeout;
        walk.settings.queryTimeout = 300ms;
        if (c.silentDomain) {
            walk.net.add(resolverAddress, resolverNaming());
            walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
            std::vector<std::pair<std::string, std::string>> servers;
            for (int i = 4; i < 7; ++i) {
                servers.emplace_back("ns" + std::to_string(i) + ".example.test.",
                                     "127.0.53." + std::to_string(i));
                walk.net.add("127.0.53." + std::to_string(i), silent());
            }
            walk.net.add(tldAddress, referring("example.test.", servers));
        } else {
            walk.addStandardServers();
        }
        const auto start = std::chrono::steady_clock::now();
        walk.run("www.example.test");
        const auto took = std::chrono::steady_clock::now() - start;
        const std::string shown = walk.shown();
        ASSERT_GE(shown.size(), c.why.size()) << c.name;
        EXPECT_EQ(shown.substr(shown.size() - c.why.size()), c.why) << c.name << "\n" << shown;
        EXPECT_LE(walk.net.totalQueries(), static_cast<std::size_t>(c.maxQueries)) << c.name;
        // Not a timing assertion: the walk ended at all, and well before the default bounds.
        EXPECT_LT(took, 10s) << c.name;
    }
}

// ---- when the walk cannot start -----------------------------------------------------

TEST(NativeTrace, NothingIsWrittenWhenNoFirstReplyCanBeHad) {
    struct Case {
        const char* name;
        bool resolverListens;
        bool hints;
        std::string domain;
    };
    const Case cases[] = {
        {"no resolver, no hints", false, false, "www.example.test"},
        {"no resolver, the hinted root silent", false, true, "www.example.test"},
        {"empty domain", true, false, ""},
        {"a space", true, false, "www example.test"},
        {"a label of 64 bytes", true, false, std::string(64, 'a') + ".test"},
        {"an empty label", true, false, "www..test"},
    };
    for (const Case& c : cases) {
        Walk walk;
        DnsTestServer* resolver = nullptr;
        if (c.resolverListens) {
            resolver = &walk.net.add(resolverAddress, resolverNaming());
        }
        DnsTestServer& root = walk.net.add(rootAddress, silent());
        TempFile hints(". 3600000 NS a.root.test.\na.root.test. 3600000 A " + rootAddress + "\n");
        if (c.hints) {
            walk.settings.rootHintsPath = hints.path;
        }
        walk.run(c.domain);
        EXPECT_EQ(walk.box.readText(), serviceDFailure) << c.name;
        EXPECT_TRUE(walk.box.log().empty()) << c.name;
        EXPECT_EQ(root.queries().size(), c.hints ? 1u : 0u) << c.name;
        if (resolver != nullptr) {
            EXPECT_TRUE(resolver->queries().empty()) << c.name;
        }
    }
}

TEST(NativeTrace, RootHintsServeWhenTheResolverNamesNoRootServer) {
    // A resolver that refuses everything, and one that answers without the root's servers.
    for (const bool resolverRefuses : {true, false}) {
        Walk walk;
        walk.net.add(resolverAddress, [&](const SeenQuery&, const std::string& wire) {
            return reply(wire, {.rcode = resolverRefuses ? 5 : 0});
        });
        walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
        walk.net.add(tldAddress,
                     referring("example.test.", {{"ns1.example.test.", domainAddress}}));
        walk.net.add(domainAddress, answering(wwwAnswer));
        TempFile hints(
            "; the root servers\n"
            ".                        3600000      NS    A.ROOT.TEST.\n"
            "A.ROOT.TEST.             3600000      A     " +
            rootAddress + "\n");
        walk.settings.rootHintsPath = hints.path;
        walk.run("www.example.test");
        const std::string shown = walk.shown();
        const std::string start = lines(
            {";; The resolver named no root server; the root hints (" + hints.path + ") are used.",
             "", "test.\t172800\tIN\tNS\tns1.nic.test.",
             ";; Received N bytes from 127.0.53.2#53(a.root.test) in T ms"});
        EXPECT_EQ(shown.substr(0, start.size()), start) << shown;
        EXPECT_NE(shown.find("www.example.test.\t300\tIN\tA\t127.0.53.80"), std::string::npos);
    }
}

TEST(NativeTrace, DomainTextIsAskedForInItsASCIIForm) {
    struct Case {
        std::string typed;
        std::string asked;
    };
    const Case cases[] = {
        {"WWW.Example.TEST", "www.example.test."},
        {"www.example.test.", "www.example.test."},
        {"\xD6\xD0\xCE\xC4.example.test", "xn--fiq228c.example.test."},  // 中文, GBK
    };
    for (const Case& c : cases) {
        Walk walk;
        DnsTestServer& root = walk.net.add(rootAddress, answering({.aa = true}));
        walk.net.add(resolverAddress, resolverNaming());
        walk.run(c.typed);
        const auto asked = root.queries();
        ASSERT_EQ(asked.size(), 1u) << c.typed;
        EXPECT_EQ(asked[0].name, c.asked);
    }
}

TEST(NativeTrace, IPv6GlueIsUsedOnlyWhereTheMachineHasARoute) {
    if (!hasIpv6Route("::1")) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    for (const bool route : {true, false}) {
        Walk walk;
        walk.net.add(resolverAddress, resolverNaming());
        walk.net.add(rootAddress, referring("test.", {{"ns1.nic.test.", tldAddress}}));
        walk.net.add(tldAddress, [](const SeenQuery&, const std::string& wire) {
            return reply(wire, {.authority = {"example.test. 172800 IN NS ns6.example.test."},
                                .additional = {"ns6.example.test. 172800 IN AAAA ::1"}});
        });
        DnsTestServer& six = walk.net.add("::1", answering(wwwAnswer));
        walk.settings.ipv6RouteProbe = route ? "::1" : "";
        walk.run("www.example.test");
        EXPECT_EQ(six.queries().size(), route ? 1u : 0u);
        EXPECT_EQ(walk.shown().find("::1#53(ns6.example.test)") != std::string::npos, route);
    }
}

// ---- the pieces -----------------------------------------------------------------------

TEST(ResolvConf, NameserversAreReadAsLibcReadsThem) {
    struct Case {
        const char* text;
        std::vector<std::string> servers;
    };
    const Case cases[] = {
        {"nameserver 127.0.53.1\n", {"127.0.53.1"}},
        {"# comment\nsearch example.test\n  nameserver\t127.0.53.1  # here\n"
         "nameserver ::1\nnameserver fe80::1%lo\nnameserver 127.0.53.9\n",
         {"127.0.53.1", "::1", "fe80::1%lo"}},
        {"nameserver localhost\nnameserver 300.1.1.1\nnameserver 127.0.53.2", {"127.0.53.2"}},
        {"", {"127.0.0.1"}},
        {"options ndots:2\n;nameserver 127.0.53.1\n", {"127.0.0.1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseResolvConf(c.text), c.servers) << c.text;
    }
    EXPECT_EQ(systemResolvers("/nonexistent/resolv.conf"), std::vector<std::string>{"127.0.0.1"});
}

TEST(RootHints, TheBuiltInCopyNamesThirteenServersWithBothAddresses) {
    const std::vector<NativeServer> v4 =
        serversOfRoot(parseZoneRecords(fixedEndpoints().nativeTrace.builtInRootHints), false);
    const std::vector<NativeServer> both =
        serversOfRoot(parseZoneRecords(fixedEndpoints().nativeTrace.builtInRootHints), true);
    ASSERT_EQ(v4.size(), 13u);
    ASSERT_EQ(both.size(), 13u);
    EXPECT_EQ(v4[0].name, "a.root-servers.net.");
    EXPECT_EQ(v4[0].addresses, std::vector<std::string>{"198.41.0.4"});
    for (std::size_t i = 0; i < 13; ++i) {
        EXPECT_EQ(v4[i].addresses.size(), 1u) << v4[i].name;
        EXPECT_EQ(both[i].addresses.size(), 2u) << both[i].name;
    }
}

// ---- in the trace chain ---------------------------------------------------------------

TEST(TraceChain, NativeTraceRunsOnlyWhenNoServiceGaveATrace) {
    struct Case {
        std::string box;
        bool runs;
    };
    const std::string unknown(unknownText);
    const Case cases[] = {
        {unknown, true},
        {serviceDFailure, true},
        {serviceDFailure + "\r\n", false},
        {std::string(traceServiceDPrefix) + "\r\n. NS a.root-servers.net.", false},
        {std::string(traceServiceDPrefix), false},
        {unknown + unknown, false},
        {"", false},
        {std::string(busyText), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(boxHoldsNoTrace(c.box), c.runs) << c.box;
    }
    ASSERT_EQ(traceChain().steps.size(), 5u);
    EXPECT_EQ(traceChain().steps.back().run, &traceNative);
    EXPECT_EQ(traceChain().steps.back().runsWhen, &boxHoldsNoTrace);
}

TEST(TraceChain, WhenEveryServiceFailsTheWalkFillsTheBox) {
    initRequests();
    testing::HttpServer web;  // every request: 404 with an empty body
    Walk walk;
    walk.addStandardServers();
    Endpoints endpoints = testing::endpointsAt(web.origin());
    endpoints.traceServiceA.origin = web.origin();  // plain HTTP: it fails all the same
    endpoints.requestPolicy.totalTimeoutMs = 5'000;
    walk.pointAt(endpoints);

    testing::MemoryDomainBox domainBox("www.example.test");
    MemoryOutputBox box;
    testing::UnreachableWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    runDigTrace(domainBox, context);

    const auto log = box.log();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].second, busyText);
    EXPECT_EQ(log[4].second, serviceDFailure) << "D writes its failure before the walk";
    EXPECT_EQ(log[5].first, "set");
    EXPECT_EQ(log[5].second.rfind(".\t518400\tIN\tNS\ta.root.test.\r\n", 0), 0u);
    const Text text = box.readText();
    EXPECT_NE(text.find("www.example.test.\t300\tIN\tA\t127.0.53.80\r\n"), std::string::npos);
    EXPECT_EQ(web.requestCount(), 15u);  // A, B, C and D's six attempts of two
}

TEST(TraceChain, AServiceThatGivesATraceLeavesTheDnsAlone) {
    initRequests();
    testing::HttpServer web({testing::CannedReply::ok(R"({"info": "\nA trace\n"})")});
    Walk walk;
    walk.addStandardServers();
    Endpoints endpoints = testing::endpointsAt(web.origin());
    walk.pointAt(endpoints);
    testing::MemoryDomainBox domainBox("www.example.test");
    MemoryOutputBox box;
    testing::UnreachableWhoisConnection whois;
    LookupContext context{box, whois, endpoints};
    runDigTrace(domainBox, context);
    EXPECT_EQ(box.readText(), "A trace\r\n");
    EXPECT_EQ(walk.net.totalQueries(), 0u);
}

}  // namespace
}  // namespace tessaly
