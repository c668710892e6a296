// Endpoints for the tests: the program's own, with every web service pointed at one origin
// (a loopback server), each keeping its fixed path, and the native trace given no resolver
// and no root server (a test that walks the DNS sets its own loopback servers).
#pragma once

#include <string>
#include <string_view>

#include "lookup/endpoints.h"

namespace tessaly::testing {

// IANA's WHOIS server, which is no web service, goes to a loopback port where nothing
// listens, so that no test asks a server off this machine by chance.
inline void pointEveryServiceAt(Endpoints& endpoints, std::string_view origin) {
    for (WebService* service : endpoints.webServices()) {
        service->origin = origin;
    }
    endpoints.ianaWhois = {"127.0.0.1", 1};
    endpoints.nativeTrace = NativeTraceSettings{};
}

// fixedEndpoints() with every web service at origin (and IANA's WHOIS server refusing).
inline Endpoints endpointsAt(std::string_view origin) {
    Endpoints endpoints = fixedEndpoints();
    pointEveryServiceAt(endpoints, origin);
    return endpoints;
}

}  // namespace tessaly::testing
