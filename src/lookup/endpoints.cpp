#include "lookup/endpoints.h"

namespace tessaly {
namespace {

// Every host the tool talks to, in one place.
constexpr std::string_view traceServiceAOrigin = "https://tools.ipip.net";  // JSON dig trace
constexpr std::string_view traceServiceBOrigin =
    "http://www.digwebinterface.com";                                         // dig web interface
constexpr std::string_view traceServiceCOrigin = "http://www.kloth.net";      // dig page
constexpr std::string_view traceServiceDOrigin = "http://www.simpledns.com";  // delegation trace
constexpr std::string_view webWhoisServiceAOrigin = "http://whois.chinaz.com";
// Web WHOIS service B is the registrar's own web WHOIS API: the registrar whose port-43
// server is registrarWhoisHost answers its full-WHOIS query here, called from its domain
// page, so its request names that server as web_server.
constexpr std::string_view webWhoisServiceBOrigin = "http://whois.www.net.cn";
constexpr std::string_view makerSiteOrigin = "http://www.orvane.com";
constexpr std::string_view secondDownloadSite = "www.onlinedown.net";
// IANA's WHOIS server names the WHOIS server of every top-level domain, and its bootstrap
// registry (RFC 9224) the RDAP services of the top-level domains.
constexpr std::string_view ianaWhoisHost = "whois.iana.org";
constexpr std::string_view ianaDataOrigin = "https://data.iana.org";

// The public recursive resolver that trace service B is asked to use.
constexpr std::string_view traceResolverAddress = "8.8.8.8";

// The form values trace service D's lookup page issues for its first postback.
constexpr std::string_view traceServiceDViewState =
    "/wEPDwUKMTM1NDYyODEwN2RkZytr5b0ZgMWv/JukOQpYxB17rh10OghJt2Bx2Sb3KIMTn77Cd8lafYAC";
constexpr std::string_view traceServiceDEventValidation =
    "/wEWAwKwyCo6AhJIt8OkrExCdA7DITDkXHvmx3uugfx3haNcYvuTYboM";

// The native trace: the system's resolver, the root hints of Debian's dns-root-data when it is
// installed, and a copy of them for when it is not (the root servers as IANA lists them).
constexpr std::string_view resolvConfPath = "/etc/resolv.conf";
constexpr std::string_view rootHintsPath = "/usr/share/dns/root.hints";
constexpr std::string_view builtInRootHints =
    R"(.                        3600000      NS    A.ROOT-SERVERS.NET.
A.ROOT-SERVERS.NET.      3600000      A     198.41.0.4
A.ROOT-SERVERS.NET.      3600000      AAAA  2001:503:ba3e::2:30
.                        3600000      NS    B.ROOT-SERVERS.NET.
B.ROOT-SERVERS.NET.      3600000      A     170.247.170.2
B.ROOT-SERVERS.NET.      3600000      AAAA  2801:1b8:10::b
.                        3600000      NS    C.ROOT-SERVERS.NET.
C.ROOT-SERVERS.NET.      3600000      A     192.33.4.12
C.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:2::c
.                        3600000      NS    D.ROOT-SERVERS.NET.
D.ROOT-SERVERS.NET.      3600000      A     199.7.91.13
D.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:2d::d
.                        3600000      NS    E.ROOT-SERVERS.NET.
E.ROOT-SERVERS.NET.      3600000      A     192.203.230.10
E.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:a8::e
.                        3600000      NS    F.ROOT-SERVERS.NET.
F.ROOT-SERVERS.NET.      3600000      A     192.5.5.241
F.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:2f::f
.                        3600000      NS    G.ROOT-SERVERS.NET.
G.ROOT-SERVERS.NET.      3600000      A     192.112.36.4
G.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:12::d0d
.                        3600000      NS    H.ROOT-SERVERS.NET.
H.ROOT-SERVERS.NET.      3600000      A     198.97.190.53
H.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:1::53
.                        3600000      NS    I.ROOT-SERVERS.NET.
I.ROOT-SERVERS.NET.      3600000      A     192.36.148.17
I.ROOT-SERVERS.NET.      3600000      AAAA  2001:7fe::53
.                        3600000      NS    J.ROOT-SERVERS.NET.
J.ROOT-SERVERS.NET.      3600000      A     192.58.128.30
J.ROOT-SERVERS.NET.      3600000      AAAA  2001:503:c27::2:30
.                        3600000      NS    K.ROOT-SERVERS.NET.
K.ROOT-SERVERS.NET.      3600000      A     193.0.14.129
K.ROOT-SERVERS.NET.      3600000      AAAA  2001:7fd::1
.                        3600000      NS    L.ROOT-SERVERS.NET.
L.ROOT-SERVERS.NET.      3600000      A     199.7.83.42
L.ROOT-SERVERS.NET.      3600000      AAAA  2001:500:9f::42
.                        3600000      NS    M.ROOT-SERVERS.NET.
M.ROOT-SERVERS.NET.      3600000      A     202.12.27.33
M.ROOT-SERVERS.NET.      3600000      AAAA  2001:dc3::35
)";
// a.root-servers.net's IPv6 address: a route to it means the machine can reach the root over
// IPv6.
constexpr std::string_view ipv6RouteProbe = "2001:503:ba3e::2:30";

Endpoints makeFixedEndpoints() {
    Endpoints e;
    e.traceServiceA.origin = traceServiceAOrigin;
    e.traceServiceB.origin = traceServiceBOrigin;
    e.traceServiceC.origin = traceServiceCOrigin;
    e.traceServiceD.origin = traceServiceDOrigin;
    e.webWhoisServiceA.origin = webWhoisServiceAOrigin;
    e.webWhoisServiceB.origin = webWhoisServiceBOrigin;
    e.versionEndpoint.origin = makerSiteOrigin;
    e.downloadPage.origin = makerSiteOrigin;
    e.rdapBootstrap.origin = ianaDataOrigin;
    e.secondDownloadSite = secondDownloadSite;
    e.traceResolver = traceResolverAddress;
    e.traceServiceDViewState = traceServiceDViewState;
    e.traceServiceDEventValidation = traceServiceDEventValidation;
    e.ianaWhois.host = ianaWhoisHost;
    e.nativeTrace.resolvConfPath = resolvConfPath;
    e.nativeTrace.rootHintsPath = rootHintsPath;
    e.nativeTrace.builtInRootHints = builtInRootHints;
    e.nativeTrace.ipv6RouteProbe = ipv6RouteProbe;
    return e;
}

}  // namespace

const Endpoints& fixedEndpoints() {
    static const Endpoints endpoints = makeFixedEndpoints();
    return endpoints;
}

}  // namespace tessaly
