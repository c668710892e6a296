// A real HTTP/1.1 server on 127.0.0.1 for the tests, plain or over TLS. It records every
// request byte for byte and answers each from a script of canned replies, or with a fault.
//
//   HttpServer server({CannedReply::ok("<pre>trace</pre>")});
//   ... send a request to server.origin() + "/path" ...
//   server.requests()[0].raw() == "POST /path HTTP/1.1\r\nHost: 127.0.0.1:...\r\n..."
//
// One request per connection: every reply carries "Connection: close". Every wait inside
// the server is bounded, and the destructor ends every connection, also silent ones.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::testing {

// One reply of a server's script.
struct CannedReply {
    enum class Fault {
        none,                // status line, Content-Type, Content-Length, the body
        neverAnswer,         // reads the request, then stays silent until the client leaves
        closeEarly,          // reads the request, closes without a byte
        wrongContentLength,  // announces more bytes than the body has, sends it, closes
        brokenChunked,       // chunked transfer whose second chunk size is not a number
        hugeBody,            // hugeBodyBytes bytes of "x", with a correct Content-Length
                             // when announceLength, else ended by closing
        redirectLoop,        // "302 Found" back to the same target; never used up, so
                             // every later request of the script gets it too
    };

    Fault fault = Fault::none;
    int status = 200;
    std::string body;
    std::size_t hugeBodyBytes = 0;
    bool announceLength = true;
    std::string location;              // sent as a Location header when not empty
    std::vector<std::string> headers;  // further "Name: value" lines, sent in this order

    static CannedReply ok(std::string body, int status = 200);
    // "302 Found" to location (a path on this server or a full URL).
    static CannedReply redirect(std::string location);
    static CannedReply failing(Fault fault);
    static CannedReply huge(std::size_t bytes, bool announceLength = true);
};

// A request as it arrived.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query, as on the request line
    std::string version;
    std::vector<std::string> headerLines;  // "Name: value", in the order received
    std::string body;

    // The request line, the header lines and the body, as on the wire.
    std::string raw() const;
    // The value of the first header of that name (ASCII case ignored); empty if absent.
    std::string header(std::string_view name) const;
};

// A certificate and its private key, PEM text.
struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
};

// A test certificate authority and a server certificate for 127.0.0.1 that it signed,
// made with OpenSSL the first time they are asked for and kept for the test program's run.
class TestCertificates {
public:
    // The authority the tests trust (hand caFile() to RequestPolicy::caFile).
    static const TestCertificates& trusted();
    // A second authority, trusted by nobody: its server certificate fails verification.
    static const TestCertificates& untrusted();

    const std::string& caFile() const { return caFile_; }
    const TlsIdentity& server() const { return server_; }

    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

private:
    explicit TestCertificates(const std::string& name);
    std::string caFile_;
    TlsIdentity server_;
};

class HttpServer {
public:
    // A plain HTTP server.
    explicit HttpServer(std::vector<CannedReply> script = {});
    // An HTTPS server presenting identity.
    HttpServer(const TlsIdentity& identity, std::vector<CannedReply> script = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Replaces the script; the next request takes its first reply.
    void setScript(std::vector<CannedReply> script);
    // Served once the script has run out (by default "404 Not Found" with an empty body).
    void setFallback(CannedReply reply);

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT".
    std::string origin() const;
    // "127.0.0.1:PORT", as a client puts it into its Host header.
    std::string hostHeader() const;

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;

    struct Impl;

private:
    void start();
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

// A port on 127.0.0.1 that refuses every connection while this object lives.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace tessaly::testing
