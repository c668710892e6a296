// Where the tool's web lookups, the update check and the WHOIS queries go. Each web service
// is an origin (scheme and host) and the fixed path of its endpoint. The program always uses
// fixedEndpoints(); tests point the origins at loopback servers. A default Endpoints names
// no host at all.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

#include "lookup/ports.h"
#include "net/request.h"
#include "text/text.h"

namespace tessaly {

struct WebService {
    std::string origin;     // "scheme://host", no slash at the end (tests add a port)
    std::string_view path;  // the endpoint's fixed path, from its first slash
    Text url() const { return origin + std::string(path); }
};

// A server spoken to over TCP: a host name (or dotted IPv4 address) and its port.
struct TcpService {
    std::string host;  // empty: there is no such server, and nothing is asked
    int port = 43;
};

// The page from which web WHOIS service B's query is made; its Referer names this path on
// service B's origin, followed by the domain.
inline constexpr std::string_view webWhoisServiceBPagePath = "/whois/domain/";

// Where the native trace (the last digtrace step, which walks the DNS from the root itself)
// finds the system's resolver and the root servers, the port it asks on, and the bounds of
// one walk. Left empty, the paths and the built-in hints give it no server at all, so it
// writes nothing: that is the default, and what the tests' endpoints start from.
struct NativeTraceSettings {
    std::string resolvConfPath;         // the resolver's nameserver lines; empty: no resolver
    std::string rootHintsPath;          // used when the resolver names no root server
    std::string_view builtInRootHints;  // zone-file text, used when the file gives none
    int dnsPort = 53;                   // every server, the resolver's too, is asked on it
    // An IPv6 address (a root server's) to which a UDP socket is connected, sending nothing,
    // to learn whether the machine has an IPv6 route; empty: IPv4 addresses only.
    std::string ipv6RouteProbe;
    std::chrono::milliseconds queryTimeout{2'000};  // one server, then the next of the set
    std::chrono::milliseconds walkTimeout{20'000};  // the whole walk
    int maxQueries = 30;                            // the whole walk, the resolver's included
    int serversPerZone = 3;
    int gluelessDepth = 2;  // nested walks for the address of a server without glue
};

struct Endpoints {
    WebService traceServiceA{{}, "/Tools/dig_trace/"};         // HTTPS
    WebService traceServiceB{{}, "/"};                         // the query is appended
    WebService traceServiceC{{}, "/services/dig.php"};         //
    WebService traceServiceD{{}, "/lookup-dg.aspx"};           //
    WebService webWhoisServiceA{{}, "/baidu/whois/"};          //
    WebService webWhoisServiceB{{}, "/whois/api_whois_full"};  // the query is appended
    WebService versionEndpoint{{}, "/soft/renew/ravlet.php"};  // the maker's site
    WebService downloadPage{{}, "/soft/"};                     // the maker's site
    WebService rdapBootstrap{{}, "/rdap/dns.json"};            // IANA's RDAP registry

    std::string secondDownloadSite;            // a domain name alone
    std::string traceResolver;                 // dotted IPv4 of a public recursive resolver
    std::string traceServiceDViewState;        // 80 base64 characters
    std::string traceServiceDEventValidation;  // 56 base64 characters
    int whoisPort = 43;
    RequestPolicy requestPolicy;
    NativeTraceSettings nativeTrace;

    // IANA's WHOIS server, asked which WHOIS server answers for a top-level domain that the
    // table lacks. The worker's exchange with it is bounded: the connect like the window's
    // client's, then the whole answer within ianaAnswerTimeout.
    TcpService ianaWhois;
    std::chrono::milliseconds ianaConnectTimeout = whoisConnectTimeout;
    std::chrono::milliseconds ianaAnswerTimeout{5'000};

    // Every web service above, so that a test can point them all at one origin.
    std::array<WebService*, 9> webServices() {
        return {&traceServiceA,   &traceServiceB,    &traceServiceC,
                &traceServiceD,   &webWhoisServiceA, &webWhoisServiceB,
                &versionEndpoint, &downloadPage,     &rdapBootstrap};
    }
};

const Endpoints& fixedEndpoints();

}  // namespace tessaly
