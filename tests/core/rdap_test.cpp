// RDAP where the WHOIS step can make no connection. Each case file under data/rdap holds the
// domain typed, the replies of three HTTPS servers on loopback (the bootstrap registry, the
// registry, the registrar; the tests' certificate authority), the requests each must receive
// and the box the step must leave. Generated bodies, the bootstrap registry's matching, the
// run's memory, when RDAP runs at all and the whole chain follow in code.
//
// The form of those files is in tests/data/README.md.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/chains.h"
#include "net/request.h"
#include "support/case_exchange.h"
#include "support/case_file.h"
#include "support/http_server.h"
#include "support/loopback_whois_connection.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "support/tcp_server.h"
#include "whois/rdap_answer.h"
#include "whois/rdap_query.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::CannedReply;
using testing::CaseFile;
using testing::HttpServer;
using testing::MemoryOutputBox;
using testing::showBytes;
using testing::TcpScript;
using testing::TcpServer;
using testing::TestCertificates;
using Fault = CannedReply::Fault;

std::string dataFile(const std::string& name) {
    std::ifstream file(TESSALY_TEST_DATA "/rdap/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file) {
        ADD_FAILURE() << "cannot read " << name;
    }
    return bytes.str();
}

// The bootstrap registry, the registry and the registrar, each an HTTPS server on loopback.
struct RdapServers {
    RdapServers() { initRequests(); }

    HttpServer bootstrap{TestCertificates::trusted().server()};
    HttpServer registry{TestCertificates::trusted().server()};
    HttpServer registrar{TestCertificates::trusted().server()};

    HttpServer& named(const std::string& name) {
        if (name == "bootstrap") {
            return bootstrap;
        }
        if (name == "registry") {
            return registry;
        }
        if (name == "registrar") {
            return registrar;
        }
        throw std::runtime_error("no server " + name);
    }
    std::map<std::string, std::string> variables() const {
        return {
            {"BOOTSTRAP", bootstrap.origin()},          {"REGISTRY", registry.origin()},
            {"REGISTRAR", registrar.origin()},          {"REGISTRY_HOST", registry.hostHeader()},
            {"REGISTRAR_HOST", registrar.hostHeader()},
        };
    }
    Endpoints endpoints() const {
        Endpoints e;
        e.rdapBootstrap.origin = bootstrap.origin();
        e.requestPolicy.caFile = TestCertificates::trusted().caFile();
        e.requestPolicy.connectTimeoutMs = 2'000;
        e.requestPolicy.totalTimeoutMs = 5'000;
        return e;
    }
    // A bootstrap registry that sends every name under dev to the registry.
    void registryServesDev() {
        bootstrap.setScript({CannedReply::ok(R"({"version": "1.0", "services": [[["dev"], [")" +
                                             registry.origin() + R"(/rdap/"]]]})")});
    }
};

// The WHOIS step for typed, with a window client that never connects.
struct StepRun {
    MemoryOutputBox box{"before"};
    testing::UnreachableWhoisConnection client;
    RunMemory memory;

    void query(const Endpoints& endpoints, std::string typed) {
        LookupContext context{box, client, endpoints, &memory};
        Text domain = std::move(typed);
        queryWhoisServer(domain, context);
    }
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

class RdapCase : public ::testing::TestWithParam<std::string> {};

TEST_P(RdapCase, RequestsAndBox) {
    const CaseFile file = testing::readCaseFile(GetParam());
    const testing::CaseBlock* client = file.block("client");
    const testing::CaseBlock* verify = file.block("verify");
    ASSERT_TRUE(client && client->section("domain") && verify && verify->section("output"))
        << file.path;

    RdapServers servers;
    const auto variables = servers.variables();
    auto expand = [&](const std::string& text) {
        return testing::sectionText({"", {}, text}, variables);
    };
    for (const testing::CaseBlock* reply : file.all("reply")) {
        std::vector<CannedReply> script;
        for (const testing::CaseSection& data : reply->sections) {
            const std::string location = data.attribute("redirect");
            script.push_back(location.empty()
                                 ? CannedReply::ok(sectionText(data, variables),
                                                   std::stoi(data.attribute("status", "200")))
                                 : CannedReply::redirect(expand(location)));
        }
        servers.named(reply->attribute("server")).setScript(script);
    }

    StepRun run;
    run.query(servers.endpoints(), sectionText(*client->section("domain")));

    std::map<std::string, std::vector<std::vector<std::string>>> expected;
    for (const testing::CaseSection& protocol : verify->sections) {
        if (protocol.name == "protocol") {
            expected[protocol.attribute("server")].push_back(
                linesOf(sectionText(protocol, variables)));
        }
    }
    for (const char* name : {"bootstrap", "registry", "registrar"}) {
        const auto requests = servers.named(name).requests();
        const auto& wanted = expected[name];
        ASSERT_EQ(requests.size(), wanted.size()) << file.path << ": requests to the " << name;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            ASSERT_FALSE(wanted[i].empty()) << file.path;
            EXPECT_EQ(requests[i].method + " " + requests[i].target, wanted[i][0])
                << file.path << ": " << name << " request " << i;
            for (std::size_t h = 1; h < wanted[i].size(); ++h) {
                const std::string& line = wanted[i][h];
                const std::size_t colon = line.find(": ");
                ASSERT_NE(colon, std::string::npos) << file.path << ": " << line;
                EXPECT_EQ(requests[i].header(line.substr(0, colon)), line.substr(colon + 2))
                    << file.path << ": " << name << " request " << i;
            }
        }
    }

    const testing::CaseSection& output = *verify->section("output");
    if (output.attribute("unchanged") == "yes") {
        EXPECT_EQ(run.box.readText(), "before") << file.path;
        EXPECT_TRUE(run.box.log().empty()) << file.path;
    } else {
        const std::string shown = sectionText(output, variables);
        EXPECT_EQ(showBytes(run.box.readText()), showBytes(shown)) << file.path;
        // One set, no busy text before it.
        const auto log = run.box.log();
        ASSERT_EQ(log.size(), 1u) << file.path;
        EXPECT_EQ(log[0].first, "set") << file.path;
    }
    EXPECT_EQ(run.client.calls(), 1) << file.path;  // the one failed connect
}

INSTANTIATE_TEST_SUITE_P(Cases, RdapCase,
                         ::testing::ValuesIn(testing::listCaseFiles(TESSALY_TEST_DATA "/rdap")),
                         testing::caseTestName<::testing::TestParamInfo<std::string>>);

TEST(RdapBootstrap, LongestEntryWinsAndOnlyHttpsBasesCount) {
    const std::optional<RdapBootstrap> bootstrap = parseRdapBootstrap(dataFile("dns.json"));
    ASSERT_TRUE(bootstrap);
    struct Case {
        std::string name;
        std::vector<std::string> bases;
    };
    const Case cases[] = {
        {"example.dev", {"https://pubapi.registry.google/rdap/"}},
        {"example.com", {"https://rdap.verisign.com/com/v1/"}},
        {"www.example.xn--flw351e", {"https://pubapi.registry.google/rdap/"}},
        {"a.example.zz", {"https://rdap.second-level.example/"}},
        {"example.zz", {"https://rdap.second-level.example/"}},
        {"xexample.zz", {"https://rdap.zz.example/"}},  // entries match at a label's start
        {"zz", {"https://rdap.zz.example/"}},
        {"example.xn--3ds443g", {"https://rdap.teleinfo.cn/xn--3ds443g/"}},
        {"example.shop", {"https://rdap.gmoregistry.net/rdap/"}},  // "/" added
        {"example.oldtld", {}},                                    // plain HTTP only
        {"example.unknown", {}},
        {"com.example", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rdapBasesFor(*bootstrap, c.name), c.bases) << c.name;
    }
}

TEST(RdapBootstrap, AnythingButTheRegistryIsNone) {
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    const std::string cases[] = {
        "",
        "not json",
        "[]",
        "{}",
        R"({"services": {}})",
        R"({"services": [[["dev"]]]})",
        R"({"services": [[["dev"], "https://rdap.example/"]]})",
        R"({"services": [[["dev", 1], ["https://rdap.example/"]]]})",
        R"({"services": [[["dev"], [null]]]})",
        R"({"services": [[["dev"], ["https://rdap.example/"]], 7]})",
        R"({"services": [[["dev"], ["https://rdap.example/"]]])",
        R"({"services": [[["d)"
        "\xFF"
        R"(v"], ["https://rdap.example/"]]]})",  // not UTF-8
        R"({"services": [[["dev"], ["https://rdap.example/"]]], "x": )" + deep + "}",
    };
    for (const std::string& json : cases) {
        EXPECT_FALSE(parseRdapBootstrap(json)) << showBytes(json.substr(0, 80));
    }
}

// Registry answers that are no RDAP, each ending the step with nothing written and no crash.
TEST(RdapAnswers, WhatIsNoRdapWritesNothing) {
    const std::string domain = R"({"objectClassName": "domain", "ldhName": "example.dev")";
    std::string tenMegabytes = domain + R"(, "remarks": [{"description": [")";
    tenMegabytes.append(10u << 20, 'x');
    tenMegabytes += R"("]}]})";
    std::string nestedDomain = domain + R"(, "remarks": )";
    nestedDomain += std::string(40, '[') + std::string(40, ']') + "}";
    const std::string deep = std::string(200'000, '[') + std::string(200'000, ']');
    struct Case {
        const char* what;
        CannedReply reply;
    };
    const Case cases[] = {
        {"10 MB of JSON", CannedReply::ok(tenMegabytes)},
        {"10 MB without a length", CannedReply::huge(10u << 20, false)},
        {"200,000 levels deep", CannedReply::ok(deep)},
        {"a domain 40 levels deep", CannedReply::ok(nestedDomain)},
        {"an array", CannedReply::ok("[" + domain + "}]")},
        {"an entity", CannedReply::ok(R"({"objectClassName": "entity", "handle": "X"})")},
        {"no object class", CannedReply::ok(R"({"ldhName": "example.dev"})")},
        {"server error in an error object", CannedReply::ok(R"({"errorCode": 500})")},
        {"error code as text", CannedReply::ok(R"({"errorCode": "404"})")},
        {"404 with a web page", CannedReply::ok("<html>Not Found</html>", 404)},
        {"404 with nothing", CannedReply::ok("", 404)},
        {"500 with a domain", CannedReply::ok(domain + "}", 500)},
        {"not UTF-8", CannedReply::ok(domain + ", \"handle\": \"\xC0\xFD\"}")},
        {"entities an object", CannedReply::ok(domain + R"(, "entities": {}})")},
        {"roles a string", CannedReply::ok(domain + R"(, "entities": [{"roles": "registrar"}]})")},
        {"vcard not a vcard",
         CannedReply::ok(domain + R"(, "entities": [{"vcardArray": ["x"]}]})")},
        {"vcard name a number",
         CannedReply::ok(domain +
                         R"(, "entities": [{"vcardArray": ["vcard", [["fn", {}, "text", 7]]]}]})")},
        {"public id a string",
         CannedReply::ok(domain + R"(, "entities": [{"publicIds": ["292"]}]})")},
        {"event a string", CannedReply::ok(domain + R"(, "events": ["registration"]})")},
        {"event date a number",
         CannedReply::ok(domain +
                         R"(, "events": [{"eventAction": "expiration", "eventDate": 1}]})")},
        {"name server a string", CannedReply::ok(domain + R"(, "nameservers": ["ns1.example"]})")},
        {"signed delegation as text",
         CannedReply::ok(domain + R"(, "secureDNS": {"delegationSigned": "true"}})")},
        {"description a string",
         CannedReply::ok(domain + R"(, "notices": [{"description": "terms"}]})")},
        {"links an object", CannedReply::ok(domain + R"(, "links": {"rel": "related"}})")},
        {"closes early", CannedReply::failing(Fault::closeEarly)},
        {"wrong length", CannedReply::failing(Fault::wrongContentLength)},
        {"broken chunks", CannedReply::failing(Fault::brokenChunked)},
        {"never answers", CannedReply::failing(Fault::neverAnswer)},
        {"redirect loop", CannedReply::failing(Fault::redirectLoop)},
    };
    for (const Case& c : cases) {
        RdapServers servers;
        servers.registryServesDev();
        servers.registry.setScript({c.reply});
        Endpoints endpoints = servers.endpoints();
        endpoints.requestPolicy.totalTimeoutMs = 1'000;
        StepRun run;
        run.query(endpoints, "www.example.dev");
        EXPECT_EQ(run.box.readText(), "before") << c.what;
        EXPECT_TRUE(run.box.log().empty()) << c.what;
        EXPECT_GE(servers.registry.requestCount(), 1u) << c.what;
    }
}

TEST(RdapAnswers, ControlCharactersNeverMakeLinesOfTheirOwn) {
    const std::string body =
        R"({"objectClassName": "domain", "ldhName": "a\r\nb\u0000c\td", "status": ["x\u007fy"]})";
    const RdapAnswer answer =
        readRdapAnswer(body, 200, "https://rdap.example/domain/a.dev", "a.dev", "a.dev");
    ASSERT_EQ(answer.kind, RdapAnswerKind::domain) << answer.why;
    EXPECT_EQ(showBytes(answer.text), showBytes("% RDAP https://rdap.example/domain/a.dev\r\n"
                                                "Domain Name: a  b c d\r\n"
                                                "Domain Status: x y\r\n"));
}

TEST(RdapMemory, BootstrapIsFetchedOncePerRunAndAgainAfterAFailure) {
    RdapServers servers;
    servers.registryServesDev();
    servers.registry.setFallback(
        CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "example.dev"})"));
    const Endpoints endpoints = servers.endpoints();
    StepRun run;
    run.query(endpoints, "one.example.dev");
    run.query(endpoints, "two.example.dev");
    EXPECT_EQ(servers.bootstrap.requestCount(), 1u);
    EXPECT_EQ(servers.registry.requestCount(), 2u);

    // Workers at once share one fetch.
    RdapServers others;
    others.registryServesDev();
    others.registry.setFallback(
        CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "example.dev"})"));
    const Endpoints otherEndpoints = others.endpoints();
    RunMemory shared;
    std::vector<std::thread> workers;
    std::vector<MemoryOutputBox> boxes(4);
    for (MemoryOutputBox& box : boxes) {
        workers.emplace_back([&] {
            testing::UnreachableWhoisConnection client;
            LookupContext context{box, client, otherEndpoints, &shared};
            Text domain = "example.dev";
            queryWhoisServer(domain, context);
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(others.bootstrap.requestCount(), 1u);
    for (MemoryOutputBox& box : boxes) {
        EXPECT_EQ(box.log().size(), 1u);
    }

    // A fetch that fails is not kept.
    RdapServers failing;
    const std::string good = R"({"version": "1.0", "services": [[["dev"], [")" +
                             failing.registry.origin() + R"(/rdap/"]]]})";
    failing.bootstrap.setScript(
        {CannedReply::ok(good, 500), CannedReply::ok("{\"services\""), CannedReply::ok(good)});
    failing.registry.setFallback(
        CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "example.dev"})"));
    StepRun again;
    for (int i = 0; i < 3; ++i) {
        again.query(failing.endpoints(), "example.dev");
        EXPECT_EQ(again.box.log().size(), i < 2 ? 0u : 1u) << i;
    }
    again.query(failing.endpoints(), "example.dev");
    EXPECT_EQ(failing.bootstrap.requestCount(), 3u);
    EXPECT_EQ(failing.registry.requestCount(), 2u);
}

// RDAP runs where no WHOIS connection could be made, and never once the window's client has
// connected, whatever the server then does.
TEST(RdapStep, RunsOnlyWhenNoWhoisConnectionCouldBeMade) {
    const auto refusing = TcpServer::refusing();
    const auto neverAccepting = TcpServer::neverAccepting();
    TcpServer silent({TcpScript::neverAnswer()});
    TcpServer closing({TcpScript::closeWithoutData()});
    TcpServer answering({TcpScript::answer({{"Domain Name: EXAMPLE.DEV\n"}})});
    TcpServer ianaWithout({TcpScript::answer({{"% IANA WHOIS server\n\nwhois:\n"}})});
    TcpServer ianaNaming({TcpScript::answer({{"refer:        whois.nic.google\n"}})});
    struct Case {
        const char* what;
        std::string typed;
        int whoisPort;
        int ianaPort;  // 0: IANA's server is not known
        bool rdapRuns;
    };
    const Case cases[] = {
        {"the table's server refuses", "www.example.com", refusing->port(), 0, true},
        {"the table's server does not resolve", "www.example.de", refusing->port(), 0, true},
        {"the connect times out", "www.example.com", neverAccepting->port(), 0, true},
        {"no server from the table nor from IANA", "www.example.dev", refusing->port(),
         ianaWithout.port(), true},
        {"the server IANA names refuses", "www.example.dev", refusing->port(), ianaNaming.port(),
         true},
        {"connected, then silent", "www.example.com", silent.port(), 0, false},
        {"connected, then closed without a byte", "www.example.com", closing.port(), 0, false},
        {"connected and answered", "www.example.dev", answering.port(), ianaNaming.port(), false},
    };
    for (const Case& c : cases) {
        RdapServers servers;
        servers.bootstrap.setScript(
            {CannedReply::ok(R"({"version": "1.0", "services": [[["com", "de", "dev"], [")" +
                             servers.registry.origin() + R"(/rdap/"]]]})")});
        servers.registry.setFallback(
            CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "rdap"})"));
        Endpoints endpoints = servers.endpoints();
        endpoints.whoisPort = c.whoisPort;
        if (c.ianaPort != 0) {
            endpoints.ianaWhois = {"127.0.0.1", c.ianaPort};
        }
        MemoryOutputBox box("before");
        testing::LoopbackWhoisConnection client(
            box,
            [](std::string_view host) {
                return host == registrarWhoisHost || host == "whois.nic.google" ? Text("127.0.0.1")
                                                                                : Text();
            },
            300ms);
        LookupContext context{box, client, endpoints};
        Text domain = c.typed;
        queryWhoisServer(domain, context);
        if (c.rdapRuns) {
            EXPECT_EQ(box.readText(), "% RDAP " + servers.registry.origin() + "/rdap/domain/" +
                                          domain + "\r\nDomain Name: rdap\r\n")
                << c.what;
        } else {
            client.waitForServerClose(200ms);
            EXPECT_NE(box.readText().rfind("% RDAP", 0), 0u) << c.what;
            EXPECT_EQ(servers.bootstrap.requestCount(), 0u) << c.what;
        }
    }
}

// A registry that redirects to plain HTTP is not followed there: registration data comes
// over verified TLS or not at all.
TEST(RdapStep, ARedirectToPlainHttpIsNotFollowed) {
    RdapServers servers;
    servers.registryServesDev();
    HttpServer plain({CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "x"})")});
    servers.registry.setFallback(CannedReply::redirect(plain.origin() + "/rdap/domain/x"));
    StepRun run;
    run.query(servers.endpoints(), "www.example.dev");
    EXPECT_EQ(run.box.readText(), "before");
    EXPECT_EQ(servers.registry.requestCount(), 1u);
    EXPECT_EQ(plain.requestCount(), 0u);
}

// A connect that gave way to a newer lookup's ends the step: that lookup has the client and
// the box now, so RDAP is not asked and nothing is written.
TEST(RdapStep, NotAskedWhenTheConnectGaveWayToANewerOne) {
    class GivingWay final : public WhoisConnection {
    public:
        WhoisConnectionToken connect(std::string_view, int) override {
            return WhoisConnectionToken::gaveWay();
        }
        bool send(WhoisConnectionToken, std::string_view) override { return false; }
    };
    RdapServers servers;
    servers.registryServesDev();
    servers.registry.setFallback(
        CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "rdap"})"));
    Endpoints endpoints = servers.endpoints();
    endpoints.rdapBootstrap.origin = servers.bootstrap.origin();
    MemoryOutputBox box("the newer lookup's answer");
    GivingWay client;
    RunMemory memory;
    LookupContext context{box, client, endpoints, &memory};
    Text domain = "www.example.com";
    queryWhoisServer(domain, context);
    EXPECT_EQ(box.readText(), "the newer lookup's answer");
    EXPECT_TRUE(box.log().empty());
    EXPECT_EQ(servers.bootstrap.requestCount(), 0u);
}

// The chain's test after the WHOIS step sees what RDAP wrote: web WHOIS is asked only when
// RDAP yielded nothing and the box still holds "未知".
TEST(RdapStep, WebWhoisRunsOnlyWhenRdapWroteNothing) {
    for (const bool rdapAnswers : {true, false}) {
        RdapServers servers;
        servers.bootstrap.setScript(
            {CannedReply::ok(R"({"version": "1.0", "services": [[["com"], [")" +
                             servers.registry.origin() + R"(/rdap/"]]]})")});
        servers.registry.setFallback(
            rdapAnswers ? CannedReply::ok(R"({"objectClassName": "domain", "ldhName": "X"})")
                        : CannedReply::ok("", 503));
        HttpServer webA({CannedReply::ok("<pre>web answer</pre>")});
        HttpServer webB({CannedReply::ok("never asked")});
        Endpoints endpoints = servers.endpoints();
        endpoints.webWhoisServiceA.origin = webA.origin();
        endpoints.webWhoisServiceB.origin = webB.origin();
        MemoryOutputBox box(unknownText);
        testing::MemoryDomainBox domainBox("www.example.com");
        testing::UnreachableWhoisConnection client;
        LookupContext context{box, client, endpoints};
        runWhoisLookup(domainBox, context);
        EXPECT_EQ(webA.requestCount(), rdapAnswers ? 0u : 1u);
        EXPECT_EQ(webB.requestCount(), 0u);
        EXPECT_EQ(box.readText(), rdapAnswers ? "% RDAP " + servers.registry.origin() +
                                                    "/rdap/domain/example.com\r\nDomain Name: X\r\n"
                                              : Text("web answer"));
    }
}

}  // namespace
}  // namespace tessaly
