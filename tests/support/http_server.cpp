#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tessaly::testing {
namespace {

// Longest a connection may take to deliver its request, and the bound on blocking reads
// and writes of a socket.
constexpr int requestDeadlineMs = 10'000;
constexpr int socketTimeoutMs = 5'000;
// How long a silent connection is held at most when the client does not leave.
constexpr int silentHoldMs = 60'000;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("http_server: " + what);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

void setSocketTimeouts(int fd) {
    timeval tv{socketTimeoutMs / 1000, (socketTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int boundLoopbackSocket(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        fail("bind");
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// ---- certificates -------------------------------------------------------------------

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* x) const { X509_free(x); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) {
        fail("extension");
    }
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

Cert makeCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

std::string pemOf(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return out;
}

std::string pemOf(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    return out;
}

SSL_CTX* serverContext(const TlsIdentity& identity) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) {
        fail("SSL_CTX_new");
    }
    BIO* certBio = BIO_new_mem_buf(identity.certificatePem.data(),
                                   static_cast<int>(identity.certificatePem.size()));
    Cert cert(PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr));
    BIO_free(certBio);
    BIO* keyBio = BIO_new_mem_buf(identity.privateKeyPem.data(),
                                  static_cast<int>(identity.privateKeyPem.size()));
    Key key(PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr));
    BIO_free(keyBio);
    if (!cert || !key || SSL_CTX_use_certificate(ctx, cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        SSL_CTX_free(ctx);
        fail("server identity");
    }
    return ctx;
}

// ---- one connection -----------------------------------------------------------------

// A socket, plain or wrapped in TLS, whose waits end when the server stops.
class Channel {
public:
    Channel(int fd, SSL* ssl, int wakeFd) : fd_(fd), ssl_(ssl), wakeFd_(wakeFd) {}

    static constexpr long timedOut = -2;

    // > 0 bytes read, 0 the peer closed, -1 error or server stopping, timedOut.
    long read(char* buffer, std::size_t size, int timeoutMs) {
        if (ssl_ == nullptr || SSL_pending(ssl_) == 0) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            int rc = poll(fds, 2, timeoutMs);
            if (rc < 0 || (fds[1].revents & POLLIN) != 0) {
                return -1;
            }
            if (rc == 0) {
                return timedOut;
            }
        }
        if (ssl_ != nullptr) {
            int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
            if (n > 0) {
                return n;
            }
            return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
        }
        ssize_t n = recv(fd_, buffer, size, 0);
        return n >= 0 ? static_cast<long>(n) : -1;
    }

    bool write(std::string_view data) {
        while (!data.empty()) {
            long n;
            if (ssl_ != nullptr) {
                n = SSL_write(ssl_, data.data(),
                              static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
            } else {
                n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            }
            if (n <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Stays until the peer closes, the server stops, or the hold time has passed.
    void waitForPeerToLeave(int holdMs) {
        char buffer[4096];
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(holdMs);
        while (std::chrono::steady_clock::now() < until) {
            long n = read(buffer, sizeof buffer, 200);
            if (n == 0 || n == -1) {
                return;
            }
        }
    }

    // Ends our side cleanly and lets the peer read everything before the socket goes.
    void finish() {
        if (ssl_ != nullptr) {
            SSL_shutdown(ssl_);
        }
        shutdown(fd_, SHUT_WR);
        waitForPeerToLeave(1000);
    }

private:
    int fd_;
    SSL* ssl_;
    int wakeFd_;
};

// Reads one request; false when none arrived whole.
bool readRequest(Channel& channel, RecordedRequest& request) {
    std::string data;
    char buffer[16384];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(requestDeadlineMs);
    auto remainingMs = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > (1u << 20)) {
            return false;
        }
        long n = channel.read(buffer, sizeof buffer, remainingMs());
        if (n <= 0) {
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string head = data.substr(0, headEnd);
    std::string rest = data.substr(headEnd + 4);

    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    std::size_t sp1 = requestLine.find(' ');
    std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) {
        return false;
    }
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    request.version = requestLine.substr(sp2 + 1);
    std::size_t contentLength = 0;
    while (lineEnd != std::string::npos) {
        std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        request.headerLines.push_back(head.substr(start, lineEnd - start));
    }
    const std::string length = request.header("Content-Length");
    if (!length.empty()) {
        contentLength = std::strtoul(length.c_str(), nullptr, 10);
        if (contentLength > (64u << 20)) {
            return false;
        }
    }
    while (rest.size() < contentLength) {
        long n = channel.read(buffer, sizeof buffer, remainingMs());
        if (n <= 0) {
            return false;
        }
        rest.append(buffer, static_cast<std::size_t>(n));
    }
    request.body = rest.substr(0, contentLength);
    return true;
}

std::string replyHead(int status, std::string_view extra) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    head += extra;
    head += "Connection: close\r\n\r\n";
    return head;
}

void answer(Channel& channel, const RecordedRequest& request, const CannedReply& reply) {
    using Fault = CannedReply::Fault;
    switch (reply.fault) {
        case Fault::none: {
            std::string extra =
                "Content-Type: text/html\r\nContent-Length: " + std::to_string(reply.body.size()) +
                "\r\n";
            if (!reply.location.empty()) {
                extra += "Location: " + reply.location + "\r\n";
            }
            for (const std::string& header : reply.headers) {
                extra += header + "\r\n";
            }
            channel.write(replyHead(reply.status, extra) + reply.body);
            break;
        }
        case Fault::neverAnswer:
            channel.waitForPeerToLeave(silentHoldMs);
            return;
        case Fault::closeEarly:
            return;
        case Fault::wrongContentLength:
            channel.write(replyHead(reply.status, "Content-Type: text/html\r\nContent-Length: " +
                                                      std::to_string(reply.body.size() + 100) +
                                                      "\r\n") +
                          reply.body);
            break;
        case Fault::brokenChunked: {
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", reply.body.size());
            channel.write(replyHead(reply.status,
                                    "Content-Type: text/html\r\nTransfer-Encoding: chunked\r\n") +
                          size + reply.body + "\r\nzz\r\nbroken\r\n");
            break;
        }
        case Fault::hugeBody: {
            std::string extra = "Content-Type: text/html\r\n";
            if (reply.announceLength) {
                extra += "Content-Length: " + std::to_string(reply.hugeBodyBytes) + "\r\n";
            }
            if (!channel.write(replyHead(reply.status, extra))) {
                return;
            }
            const std::string chunk(64 * 1024, 'x');
            std::size_t left = reply.hugeBodyBytes;
            while (left > 0) {
                std::size_t n = std::min(left, chunk.size());
                if (!channel.write(std::string_view(chunk).substr(0, n))) {
                    return;
                }
                left -= n;
            }
            break;
        }
        case Fault::redirectLoop:
            channel.write(
                replyHead(302, "Location: " + request.target + "\r\nContent-Length: 0\r\n"));
            break;
    }
    channel.finish();
}

}  // namespace

// ---- public pieces --------------------------------------------------------------------

CannedReply CannedReply::ok(std::string body, int status) {
    CannedReply reply;
    reply.body = std::move(body);
    reply.status = status;
    return reply;
}

CannedReply CannedReply::redirect(std::string location) {
    CannedReply reply;
    reply.status = 302;
    reply.location = std::move(location);
    return reply;
}

CannedReply CannedReply::failing(Fault fault) {
    CannedReply reply;
    reply.fault = fault;
    if (fault == Fault::wrongContentLength || fault == Fault::brokenChunked) {
        reply.body = "partial body";
    }
    return reply;
}

CannedReply CannedReply::huge(std::size_t bytes, bool announceLength) {
    CannedReply reply;
    reply.announceLength = announceLength;
    reply.fault = Fault::hugeBody;
    reply.hugeBodyBytes = bytes;
    return reply;
}

std::string RecordedRequest::raw() const {
    std::string out = method + " " + target + " " + version + "\r\n";
    for (const std::string& line : headerLines) {
        out += line + "\r\n";
    }
    out += "\r\n";
    out += body;
    return out;
}

std::string RecordedRequest::header(std::string_view name) const {
    const std::string wanted = lower(name);
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            lower(std::string_view(line).substr(0, colon)) == wanted) {
            std::size_t start = line.find_first_not_of(' ', colon + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return {};
}

TestCertificates::TestCertificates(const std::string& name) {
    Key caKey(EVP_EC_gen("P-256"));
    Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey) {
        fail("key generation");
    }
    Cert ca = makeCertificate(caKey.get(), name + " Test CA", 1);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    if (X509_sign(ca.get(), caKey.get(), EVP_sha256()) == 0) {
        fail("signing the CA");
    }

    Cert server = makeCertificate(serverKey.get(), "127.0.0.1", 2);
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1");
    addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    if (X509_sign(server.get(), caKey.get(), EVP_sha256()) == 0) {
        fail("signing the server certificate");
    }
    server_.certificatePem = pemOf(server.get());
    server_.privateKeyPem = pemOf(serverKey.get());

    char path[] = "/tmp/tessaly-test-ca-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        fail("mkstemp");
    }
    const std::string pem = pemOf(ca.get());
    bool written = ::write(fd, pem.data(), pem.size()) == static_cast<ssize_t>(pem.size());
    close(fd);
    if (!written) {
        fail("writing the CA file");
    }
    caFile_ = path;
}

TestCertificates::~TestCertificates() {
    if (!caFile_.empty()) {
        unlink(caFile_.c_str());
    }
}

const TestCertificates& TestCertificates::trusted() {
    static const TestCertificates certificates("Tessaly");
    return certificates;
}

const TestCertificates& TestCertificates::untrusted() {
    static const TestCertificates certificates("Stranger");
    return certificates;
}

// ---- the server -----------------------------------------------------------------------

struct HttpServer::Impl {
    int listenFd = -1;
    int wake[2] = {-1, -1};
    SSL_CTX* tls = nullptr;
    std::thread acceptor;

    mutable std::mutex mutex;
    std::vector<CannedReply> script;
    std::size_t next = 0;
    CannedReply fallback = CannedReply::ok("", 404);
    std::vector<RecordedRequest> requests;
    // One thread per connection; a finished one is joined when the next connection comes,
    // so a long test does not keep the stacks of every connection it made.
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Connection> connections;

    ~Impl() {
        if (wake[1] >= 0) {
            char byte = 1;
            [[maybe_unused]] ssize_t n = ::write(wake[1], &byte, 1);
        }
        if (acceptor.joinable()) {
            acceptor.join();
        }
        // No new connection starts once the acceptor has ended.
        for (Connection& c : connections) {
            c.thread.join();
        }
        if (listenFd >= 0) {
            close(listenFd);
        }
        for (int fd : wake) {
            if (fd >= 0) {
                close(fd);
            }
        }
        SSL_CTX_free(tls);
    }

    CannedReply take() {
        std::lock_guard lock(mutex);
        if (next >= script.size()) {
            return fallback;
        }
        const CannedReply& reply = script[next];
        if (reply.fault != CannedReply::Fault::redirectLoop) {
            ++next;
        }
        return reply;
    }

    void serve(int fd) {
        setSocketTimeouts(fd);
        SSL* ssl = nullptr;
        if (tls != nullptr) {
            ssl = SSL_new(tls);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {
                ERR_clear_error();
                SSL_free(ssl);
                close(fd);
                return;
            }
        }
        Channel channel(fd, ssl, wake[0]);
        RecordedRequest request;
        if (readRequest(channel, request)) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(request);
            }
            answer(channel, request, take());
        }
        if (ssl != nullptr) {
            ERR_clear_error();
            SSL_free(ssl);
        }
        close(fd);
    }

    void acceptLoop() {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
                return;
            }
            int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            std::erase_if(connections, [](Connection& c) {
                if (!c.done->load()) {
                    return false;
                }
                c.thread.join();
                return true;
            });
            auto done = std::make_shared<std::atomic<bool>>(false);
            connections.push_back({std::thread([this, fd, done] {
                                       serve(fd);
                                       *done = true;
                                   }),
                                   done});
        }
    }
};

HttpServer::HttpServer(std::vector<CannedReply> script) : impl_(std::make_unique<Impl>()) {
    impl_->script = std::move(script);
    start();
}

HttpServer::HttpServer(const TlsIdentity& identity, std::vector<CannedReply> script)
    : impl_(std::make_unique<Impl>()) {
    impl_->script = std::move(script);
    impl_->tls = serverContext(identity);
    start();
}

HttpServer::~HttpServer() = default;

void HttpServer::start() {
    // A client that leaves early must not end the test program through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe2(impl_->wake, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    impl_->listenFd = boundLoopbackSocket(port_);
    if (listen(impl_->listenFd, 64) != 0) {
        fail("listen");
    }
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
}

void HttpServer::setScript(std::vector<CannedReply> script) {
    std::lock_guard lock(impl_->mutex);
    impl_->script = std::move(script);
    impl_->next = 0;
}

void HttpServer::setFallback(CannedReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->fallback = std::move(reply);
}

std::string HttpServer::origin() const {
    return std::string(impl_->tls != nullptr ? "https://" : "http://") + hostHeader();
}

std::string HttpServer::hostHeader() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> HttpServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t HttpServer::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests.size();
}

RefusingPort::RefusingPort() {
    fd_ = boundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    close(fd_);
}

}  // namespace tessaly::testing
