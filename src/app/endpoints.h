// Where the tool's web lookups, the update check and the WHOIS queries go. The program
// always uses fixedEndpoints(); tests hand the steps a copy pointing at loopback servers.
#pragma once

#include <string>

#include "text/request.h"

namespace tessaly {

struct Endpoints {
    std::string traceServiceA;                 // https://…/Tools/dig_trace/
    std::string traceServiceBRoot;             // http://…/  (the query is appended)
    std::string traceResolver;                 // dotted IPv4 of a public recursive resolver
    std::string traceServiceC;                 // http://…/services/dig.php
    std::string traceServiceD;                 // http://…/lookup-dg.aspx
    std::string traceServiceDViewState;        // 80 base64 characters
    std::string traceServiceDEventValidation;  // 56 base64 characters
    std::string webWhoisServiceA;              // http://…/baidu/whois/
    std::string webWhoisServiceBSite;          // http://…  (no trailing slash)
    std::string versionEndpoint;               // http://…/soft/renew/ravlet.php
    std::string downloadPage;                  // http://…/soft/
    std::string secondDownloadSite;            // a domain name alone
    int whoisPort = 43;
    RequestPolicy requestPolicy;
};

const Endpoints& fixedEndpoints();

}  // namespace tessaly
