#include "whois/whois_referral.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "base/log.h"
#include "net/tcp_connect.h"
#include "text/codepage.h"
#include "text/idna.h"

namespace tessaly {
namespace {

using Clock = std::chrono::steady_clock;

// What IANA said about each top-level domain this run, by its A-label: the server it named,
// or the empty text when it named none.
struct ReferralMemory {
    std::mutex mutex;
    std::map<std::string, Text, std::less<>> serverOf;

    std::optional<Text> recall(std::string_view topLevel) {
        std::lock_guard lock(mutex);
        const auto found = serverOf.find(topLevel);
        if (found == serverOf.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    void keep(const std::string& topLevel, const Text& server) {
        std::lock_guard lock(mutex);
        serverOf.insert_or_assign(topLevel, server);
    }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool sameAsciiLetters(std::string_view a, std::string_view lowerB) {
    if (a.size() != lowerB.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lowerB[i]) {
            return false;
        }
    }
    return true;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The value of the first line whose key is key, or nullopt when no line has that key and a
// value.
std::optional<std::string_view> firstValueOf(std::string_view answer, std::string_view key) {
    while (!answer.empty()) {
        const std::size_t end = answer.find('\n');
        const std::string_view line = answer.substr(0, end);
        answer = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !sameAsciiLetters(trimmed(line.substr(0, colon)), key)) {
            continue;
        }
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (!value.empty()) {
            return value;
        }
    }
    return std::nullopt;
}

std::string errorName(int error) {
    const char* name = strerrordesc_np(error);
    return name != nullptr ? name : "error " + std::to_string(error);
}

struct IanaExchange {
    bool complete = false;  // IANA's whole answer arrived, and the connection ended
    std::string answer;
    std::string failure;  // why not, for the diagnostics
};

// One exchange with IANA's WHOIS server on the calling worker: connect, send line, read to
// the end of the answer; bounded by the endpoints' two times and ianaAnswerLimit.
IanaExchange askIana(const Endpoints& endpoints, std::string_view line) {
    IanaExchange exchange;
    std::string why;
    const int fd = openTcpConnection(endpoints.ianaWhois.host, endpoints.ianaWhois.port,
                                     endpoints.ianaConnectTimeout, {}, &why);
    if (fd < 0) {
        exchange.failure = "no connection: " + why;
        return exchange;
    }
    const auto deadline = Clock::now() + endpoints.ianaAnswerTimeout;
    auto waitFor = [&](short events) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            pollfd waiting{fd, events, 0};
            const int ready = poll(&waiting, 1, static_cast<int>(left > 0 ? left : 0));
            if (ready > 0) {
                return true;
            }
            if (ready == 0 || errno != EINTR) {
                return false;
            }
        }
    };
    while (!line.empty() && exchange.failure.empty()) {
        if (!waitFor(POLLOUT)) {
            exchange.failure = "the query could not be sent in time";
            break;
        }
        const ssize_t n = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            exchange.failure = "the query could not be sent: " + errorName(errno);
            break;
        }
        line.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    char buffer[4096];
    while (exchange.failure.empty()) {
        if (!waitFor(POLLIN)) {
            exchange.failure = "no whole answer within " +
                               std::to_string(endpoints.ianaAnswerTimeout.count()) + " ms";
            break;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) {
            exchange.complete = true;
            break;
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                exchange.failure = "the answer broke off: " + errorName(errno);
            }
            continue;
        }
        if (exchange.answer.size() + static_cast<std::size_t>(n) > ianaAnswerLimit) {
            exchange.failure =
                "the answer is longer than " + std::to_string(ianaAnswerLimit) + " bytes";
            break;
        }
        exchange.answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return exchange;
}

}  // namespace

bool isPlausibleHostName(std::string_view name) {
    if (!name.empty() && name.back() == '.') {
        name.remove_suffix(1);
    }
    if (name.empty() || name.size() > 253) {
        return false;
    }
    std::size_t labels = 0;
    bool lastLabelAllDigits = true;
    while (true) {
        const std::size_t dot = name.find('.');
        const std::string_view label = name.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        lastLabelAllDigits = true;
        for (char c : label) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            const bool digit = c >= '0' && c <= '9';
            if (!letter && !digit && c != '-') {
                return false;
            }
            lastLabelAllDigits = lastLabelAllDigits && digit;
        }
        ++labels;
        if (dot == std::string_view::npos) {
            break;
        }
        name.remove_prefix(dot + 1);
    }
    return labels >= 2 && !lastLabelAllDigits;
}

std::optional<std::string> referredWhoisServer(std::string_view answer) {
    std::optional<std::string_view> value = firstValueOf(answer, "refer");
    if (!value) {
        value = firstValueOf(answer, "whois");
    }
    if (!value || !isPlausibleHostName(*value)) {
        return std::nullopt;
    }
    std::string host = lowerAscii(*value);
    if (host.back() == '.') {
        host.pop_back();
    }
    return host;
}

Text whoisServerByReferral(std::string_view topLevel, LookupContext& context) {
    const std::optional<std::string> label = toALabels(topLevel);
    if (!label || label->find('.') != std::string::npos) {
        logLine(LogTopic::whois, "referral: \"", gbkToUtf8(topLevel),
                "\" is no DNS label; IANA is not asked");
        return Text();
    }
    const Endpoints& endpoints = context.endpoints;
    if (endpoints.ianaWhois.host.empty()) {
        logLine(LogTopic::whois, "referral: no IANA WHOIS server to ask about \"", *label, "\"");
        return Text();
    }
    RunMemory forThisLookup;
    ReferralMemory& memory =
        (context.memory != nullptr ? *context.memory : forThisLookup).of<ReferralMemory>();
    if (const std::optional<Text> known = memory.recall(*label)) {
        logLine(LogTopic::whois, "referral: IANA named ", known->empty() ? "no server" : *known,
                " for \"", *label, "\" earlier this run");
        return *known;
    }

    logLine(LogTopic::whois, "referral: asking ", endpoints.ianaWhois.host, ":",
            endpoints.ianaWhois.port, " which server answers for \"", *label, "\"");
    const auto start = Clock::now();
    const IanaExchange exchange = askIana(endpoints, *label + "\r\n");
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (!exchange.complete) {
        logLine(LogTopic::whois, "referral: no server for \"", *label, "\" after ", ms,
                " ms: ", exchange.failure);
        return Text();
    }
    const std::optional<std::string> server = referredWhoisServer(exchange.answer);
    memory.keep(*label, server.value_or(Text()));
    if (!server) {
        logLine(LogTopic::whois, "referral: IANA's answer of ", exchange.answer.size(),
                " bytes names no plausible server for \"", *label, "\" (", ms, " ms)");
        return Text();
    }
    logLine(LogTopic::whois, "referral: IANA names ", *server, " for \"", *label, "\" (", ms,
            " ms)");
    return *server;
}

}  // namespace tessaly
