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
    return e;
}

}  // namespace

const Endpoints& fixedEndpoints() {
    static const Endpoints endpoints = makeFixedEndpoints();
    return endpoints;
}

}  // namespace tessaly
