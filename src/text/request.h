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
    // Extra trust anchors (PEM file) for tests; empty uses the system's trust store only.
    std::string caFile;
};

// Call once at program start, before any thread is started.
void initRequests();

class RequestObject {
public:
    explicit RequestObject(const RequestPolicy& policy = RequestPolicy{});
    ~RequestObject();
    RequestObject(const RequestObject&) = delete;
    RequestObject& operator=(const RequestObject&) = delete;

    // method "GET" or "POST"; url as GBK text.
    void open(std::string_view method, std::string_view url);
    // Headers are sent in the order they were set; value as GBK text.
    void setRequestHeader(std::string_view name, std::string_view value);
    // Sends without a body (GET).
    void send();
    // Sends the GBK text body (POST), on the wire as UTF-8.
    void send(std::string_view body);
    // The body exactly as received, whatever the status; empty after any failure.
    const Bytes& responseBody() const { return body_; }

private:
    void perform(const std::string* body);

    RequestPolicy policy_;
    std::string method_;
    std::string url_;
    std::vector<std::pair<std::string, std::string>> headers_;
    Bytes body_;
};

}  // namespace tessaly
