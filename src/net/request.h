// The HTTP request object every web lookup goes through: one object per request,
// synchronous on the calling worker, on libcurl's easy interface.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/text.h"

namespace tessaly {

// Bounds that keep a web service from holding a worker or the memory forever.
struct RequestPolicy {
    long connectTimeoutMs = 10'000;
    long totalTimeoutMs = 30'000;
    std::size_t maxBodyBytes = 16u << 20;  // a larger body fails the request
    long maxRedirects = 5;
    // Only HTTPS, for the request and every redirect: for data whose source must be the
    // server asked (RDAP), a redirect to plain HTTP fails the request.
    bool httpsOnly = false;
    // Trust anchors (PEM file) used in place of the system's store, for tests; empty keeps
    // the system's trust store.
    std::string caFile;
};

// Sets libcurl up and makes the run's cookie store. The first request does it on its own
// thread, so start-up pays nothing for it; libcurl's global set-up is thread-safe (7.84 and
// later) and runs once. Later calls do nothing.
void initRequests();

// "Mozilla/5.0 (compatible; Tessaly/<version>)", sent with every request.
const std::string& userAgent();

// Empties the run's cookie store (which every request object shares), for tests that must
// not see one another's cookies.
void forgetCookies();

// The header values the web lookups share.
inline constexpr std::string_view xRequestedWithValue = "XMLHttpRequest";
inline constexpr std::string_view acceptValue = "application/json, text/javascript, */*; q=0.01";
inline constexpr std::string_view formContentTypeValue =
    "application/x-www-form-urlencoded; charset=UTF-8";

// On the wire, texts go as UTF-8. In a URL only what may not stand raw is percent-encoded:
// space, control bytes, bytes outside ASCII and "#" (which would cut the URL short);
// "&", "=", "$", "|", "%" and the rest stand as typed.
std::string urlWireForm(std::string_view gbkUrl);

class RequestObject {
public:
    explicit RequestObject(const RequestPolicy& policy = RequestPolicy{});
    ~RequestObject();
    RequestObject(const RequestObject&) = delete;
    RequestObject& operator=(const RequestObject&) = delete;

    // method "GET" or "POST" (any other fails the request); url as GBK text.
    void open(std::string_view method, std::string_view url);
    // Headers are sent in the order they were set; name and value as GBK text. A Referer
    // value is a URL and goes in the URL's wire form; other values lose control bytes.
    void setRequestHeader(std::string_view name, std::string_view value);
    // Sends without a body.
    void send();
    // Sends the GBK text body, on the wire as UTF-8 (a GET sends no body).
    void send(std::string_view body);
    // The body exactly as received, whatever the status; empty after any failure.
    const Bytes& responseBody() const { return body_; }
    // For the diagnostics only (a step looks at neither): the HTTP status of the last
    // response (0 when none came), and why the request failed (empty when it did not).
    long status() const { return status_; }
    const std::string& failure() const { return failure_; }

private:
    void perform(const std::string* body);

    RequestPolicy policy_;
    std::string method_;
    std::string url_;
    std::vector<std::pair<std::string, std::string>> headers_;
    Bytes body_;
    long status_ = 0;
    std::string failure_;
};

// Sets the lookups' common headers on an opened request, in the order Referer,
// X-Requested-With (only when asked for), Accept, Content-Type.
void setLookupHeaders(RequestObject& request, std::string_view referer, bool withXRequestedWith);

}  // namespace tessaly
