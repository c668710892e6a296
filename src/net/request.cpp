#include "net/request.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

#include "base/log.h"
#include "base/version.h"
#include "text/codepage.h"

namespace tessaly {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Sink {
    Bytes* body;
    std::size_t limit;
    bool overLimit = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (n > sink->limit - std::min(sink->limit, sink->body->size())) {
        sink->overLimit = true;
        return 0;  // curl ends the transfer with a write error
    }
    sink->body->append(data, n);
    return n;
}

bool isControlByte(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The run's one cookie store, shared by every request object as a system's HTTP stack keeps
// one for its process: a cookie that a reply sets goes with later requests to that site.
// In memory only; nothing is read from or written to disk. Made once and never released,
// since a worker may still be in a request while the program ends.
class CookieStore {
public:
    CookieStore() : share_(curl_share_init()) {
        if (share_ == nullptr) {
            return;
        }
        const bool ok =
            curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, lock) == CURLSHE_OK &&
            curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, unlock) == CURLSHE_OK &&
            curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) == CURLSHE_OK;
        if (!ok) {
            curl_share_cleanup(share_);
            share_ = nullptr;
        }
    }
    CURLSH* share() const { return share_; }

private:
    // libcurl asks for the lock of one kind of shared data at a time.
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<CookieStore*>(user)->mutexOf(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<CookieStore*>(user)->mutexOf(data).unlock();
    }
    std::mutex& mutexOf(curl_lock_data data) {
        return data == CURL_LOCK_DATA_COOKIE ? cookies_ : others_;
    }

    CURLSH* share_;
    std::mutex cookies_;
    std::mutex others_;  // the share lock and whatever else libcurl may lock through it
};

CookieStore* cookieStore = nullptr;

}  // namespace

void initRequests() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        cookieStore = new CookieStore;
    });
}

const std::string& userAgent() {
    // Never destroyed: a worker may be in a request while the program ends.
    static const std::string* agent =
        new std::string("Mozilla/5.0 (compatible; Tessaly/" + std::string(tessalyVersion) + ")");
    return *agent;
}

void forgetCookies() {
    initRequests();
    if (cookieStore->share() == nullptr) {
        return;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (easy && curl_easy_setopt(easy.get(), CURLOPT_SHARE, cookieStore->share()) == CURLE_OK) {
        curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "ALL");
    }
}

std::string urlWireForm(std::string_view gbkUrl) {
    static constexpr char hex[] = "0123456789ABCDEF";
    const std::string utf8 = gbkToUtf8(gbkUrl);
    std::string out;
    out.reserve(utf8.size());
    for (unsigned char c : utf8) {
        if (c <= 0x20 || c >= 0x7F || c == '#') {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

RequestObject::RequestObject(const RequestPolicy& policy) : policy_(policy) {}

RequestObject::~RequestObject() = default;

void RequestObject::open(std::string_view method, std::string_view url) {
    method_.assign(method);
    url_ = urlWireForm(url);
    headers_.clear();
    body_.clear();
}

void RequestObject::setRequestHeader(std::string_view name, std::string_view value) {
    std::string wireName;
    for (unsigned char c : gbkToUtf8(name)) {
        if (!isControlByte(c) && c != ':' && c != ' ') {
            wireName.push_back(static_cast<char>(c));
        }
    }
    std::string wireValue;
    if (wireName == "Referer") {
        wireValue = urlWireForm(value);
    } else {
        for (unsigned char c : gbkToUtf8(value)) {
            if (!isControlByte(c) || c == '\t') {
                wireValue.push_back(static_cast<char>(c));
            }
        }
    }
    if (!wireName.empty()) {
        headers_.emplace_back(std::move(wireName), std::move(wireValue));
    }
}

void RequestObject::send() {
    perform(nullptr);
}

void RequestObject::send(std::string_view body) {
    const std::string wireBody = gbkToUtf8(body);
    perform(&wireBody);
}

void RequestObject::perform(const std::string* body) {
    body_.clear();
    status_ = 0;
    failure_.clear();
    const bool post = method_ == "POST";
    if ((!post && method_ != "GET") || url_.empty()) {
        failure_ = url_.empty() ? "no URL" : "method " + method_ + " is neither GET nor POST";
        logLine(LogTopic::http, method_, " ", url_, ": not sent, ", failure_);
        return;
    }
    initRequests();
    char errorText[CURL_ERROR_SIZE] = {};  // outlives the handle that writes into it
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        failure_ = "libcurl could not make a request";
        logLine(LogTopic::http, method_, " ", url_, ": not sent, ", failure_);
        return;
    }
    CURL* h = easy.get();

    // Our headers in the order set; an empty "Expect:" keeps curl from adding
    // "Expect: 100-continue", and our Accept replaces curl's own.
    std::unique_ptr<curl_slist, ListDeleter> list;
    auto add = [&list](const std::string& line) {
        curl_slist* next = curl_slist_append(list.get(), line.c_str());
        if (next == nullptr) {
            return false;
        }
        list.release();
        list.reset(next);
        return true;
    };
    for (const auto& [name, value] : headers_) {
        // "Name;" is curl's way of sending a header with an empty value.
        if (!add(value.empty() ? name + ";" : name + ": " + value)) {
            failure_ = "out of memory for the headers";
            return;
        }
    }
    if (!add("Expect:")) {
        failure_ = "out of memory for the headers";
        return;
    }

    Bytes received;
    Sink sink{&received, policy_.maxBodyBytes};
    bool ok = curl_easy_setopt(h, CURLOPT_URL, url_.c_str()) == CURLE_OK;
    const char* protocols = policy_.httpsOnly ? "https" : "http,https";
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get()) == CURLE_OK;
    // Where the HTTP stack puts its own User-Agent: after Host, before the step's headers.
    ok = ok && curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent().c_str()) == CURLE_OK;
    // The cookie engine on, without a file: the run's store only.
    if (cookieStore->share() != nullptr) {
        ok = ok && curl_easy_setopt(h, CURLOPT_SHARE, cookieStore->share()) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_COOKIEFILE, "") == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_MAXREDIRS, policy_.maxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, policy_.connectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, policy_.totalTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(policy_.maxBodyBytes)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    if (!policy_.caFile.empty()) {
        ok = ok && curl_easy_setopt(h, CURLOPT_CAINFO, policy_.caFile.c_str()) == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK;
    if (post) {
        const std::string empty;
        const std::string& data = body != nullptr ? *body : empty;
        ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                    static_cast<curl_off_t>(data.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, data.c_str()) == CURLE_OK;
    } else {
        ok = ok && curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    }
    if (!ok) {
        failure_ = "libcurl refused an option";
        logLine(LogTopic::http, method_, " ", url_, ": not sent, ", failure_);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    const CURLcode result = curl_easy_perform(h);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status_);
    if (sink.overLimit) {
        failure_ = "the body is larger than " + std::to_string(policy_.maxBodyBytes) + " bytes";
    } else if (result != CURLE_OK) {
        failure_ = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
    } else {
        body_ = std::move(received);
    }
    if (failure_.empty()) {
        logLine(LogTopic::http, method_, " ", url_, ": status ", status_, ", ", body_.size(),
                " bytes in ", ms, " ms");
    } else {
        logLine(LogTopic::http, method_, " ", url_, ": failed after ", ms, " ms (status ", status_,
                "): ", failure_);
    }
}

void setLookupHeaders(RequestObject& request, std::string_view referer, bool withXRequestedWith) {
    request.setRequestHeader("Referer", referer);
    if (withXRequestedWith) {
        request.setRequestHeader("X-Requested-With", xRequestedWithValue);
    }
    request.setRequestHeader("Accept", acceptValue);
    request.setRequestHeader("Content-Type", formContentTypeValue);
}

}  // namespace tessaly
