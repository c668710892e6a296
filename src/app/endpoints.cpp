#include "app/endpoints.h"

#include <string_view>

namespace tessaly {
namespace {

// Every host the tool talks to, in one place.
constexpr std::string_view traceServiceAHost = "tools.ipip.net";           // JSON dig trace
constexpr std::string_view traceServiceBHost = "www.digwebinterface.com";  // dig web interface
constexpr std::string_view traceServiceCHost = "www.kloth.net";            // dig page
constexpr std::string_view traceServiceDHost = "www.simpledns.com";        // delegation trace
constexpr std::string_view webWhoisServiceAHost = "whois.chinaz.com";
constexpr std::string_view webWhoisServiceBHost = "whois.aizhan.com";
constexpr std::string_view makerSiteHost = "www.orvane.com";
constexpr std::string_view secondDownloadSiteHost = "www.onlinedown.net";

// The public recursive resolver that trace service B is asked to use.
constexpr std::string_view traceResolverAddress = "8.8.8.8";

// The form values trace service D's lookup page issues for its first postback.
constexpr std::string_view traceServiceDViewState =
    "/wEPDwUKMTM1NDYyODEwN2RkZytr5b0ZgMWv/JukOQpYxB17rh10OghJt2Bx2Sb3KIMTn77Cd8lafYAC";
constexpr std::string_view traceServiceDEventValidation =
    "/wEWAwKwyCo6AhJIt8OkrExCdA7DITDkXHvmx3uugfx3haNcYvuTYboM";

std::string url(std::string_view scheme, std::string_view host, std::string_view path) {
    std::string out;
    out.append(scheme).append("://").append(host).append(path);
    return out;
}

Endpoints makeFixedEndpoints() {
    Endpoints e;
    e.traceServiceA = url("https", traceServiceAHost, "/Tools/dig_trace/");
    e.traceServiceBRoot = url("http", traceServiceBHost, "/");
    e.traceResolver = std::string(traceResolverAddress);
    e.traceServiceC = url("http", traceServiceCHost, "/services/dig.php");
    e.traceServiceD = url("http", traceServiceDHost, "/lookup-dg.aspx");
    e.traceServiceDViewState = std::string(traceServiceDViewState);
    e.traceServiceDEventValidation = std::string(traceServiceDEventValidation);
    e.webWhoisServiceA = url("http", webWhoisServiceAHost, "/baidu/whois/");
    e.webWhoisServiceBSite = url("http", webWhoisServiceBHost, "");
    e.versionEndpoint = url("http", makerSiteHost, "/soft/renew/ravlet.php");
    e.downloadPage = url("http", makerSiteHost, "/soft/");
    e.secondDownloadSite = std::string(secondDownloadSiteHost);
    return e;
}

}  // namespace

const Endpoints& fixedEndpoints() {
    static const Endpoints endpoints = makeFixedEndpoints();
    return endpoints;
}

}  // namespace tessaly
