#include "net/tcp_connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace tessaly {
namespace {

using Clock = std::chrono::steady_clock;

bool isDottedIpv4(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

Text firstIpv4Of(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return Text();
    }
    char dotted[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    Text result;
    if (inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted) != nullptr) {
        result = dotted;
    }
    freeaddrinfo(found);
    return result;
}

// The system lookup has no time limit of its own, so it runs on a helper thread that owns
// its share of the result and may outlive the wait.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    Text address;
};

// strerror may share a buffer between threads; glibc's descriptions do not.
std::string errorName(int error) {
    const char* name = strerrordesc_np(error);
    return name != nullptr ? name : "error " + std::to_string(error);
}

long remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? left : 0;
}

}  // namespace

Text resolveIpv4(std::string_view host, std::chrono::milliseconds timeout,
                 const std::function<bool()>& abandoned) {
    const std::string name(host);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return Text();
    }
    if (isDottedIpv4(name)) {
        return name;
    }
    auto lookup = std::make_shared<PendingLookup>();
    try {
        std::thread([lookup, name] {
            Text address = firstIpv4Of(name);
            std::lock_guard lock(lookup->mutex);
            lookup->address = std::move(address);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return Text();
    }
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        if (Clock::now() >= deadline || (abandoned && abandoned())) {
            return Text();
        }
        const auto slice = std::min<Clock::duration>(deadline - Clock::now(), abandonCheckInterval);
        lookup->done.wait_for(lock, slice);
    }
    return lookup->address;
}

int openTcpConnection(std::string_view host, int port, std::chrono::milliseconds timeout,
                      const HostResolver& resolver, std::string* failure,
                      const std::function<bool()>& abandoned) {
    const auto deadline = Clock::now() + timeout;
    auto fail = [failure](std::string why) {
        if (failure != nullptr) {
            *failure = std::move(why);
        }
        return -1;
    };
    if (host.empty()) {
        return fail("no host");
    }
    if (port < 1 || port > 65535) {
        return fail("port " + std::to_string(port) + " is out of range");
    }
    const std::string name(host);
    Text dotted;
    if (isDottedIpv4(name)) {
        dotted = name;
    } else if (resolver) {
        dotted = resolver(host);
    } else {
        dotted = resolveIpv4(host, timeout, abandoned);
    }
    if (abandoned && abandoned()) {
        return fail("given up for a newer connect");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (dotted.empty() || inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1) {
        return fail("the name has no IPv4 address (or its lookup took too long)");
    }

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(std::string("no socket: ") + errorName(errno));
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        close(fd);
        return fail(dotted + ": " + errorName(error));
    }
    for (;;) {
        if (abandoned && abandoned()) {
            close(fd);
            return fail(dotted + ": given up for a newer connect");
        }
        const long left = remainingMs(deadline);
        const long wait = abandoned ? std::min<long>(left, abandonCheckInterval.count()) : left;
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(wait));
        if (ready > 0) {
            break;
        }
        if (ready == 0 && left > wait) {
            continue;  // a slice of the wait has passed; ask again whether to go on
        }
        if (ready == 0 || errno != EINTR) {
            close(fd);  // timed out, or poll itself failed
            return fail(dotted + ": no connection within " + std::to_string(timeout.count()) +
                        " ms");
        }
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close(fd);
        return fail(dotted + ": " + errorName(error));
    }
    return fd;
}

}  // namespace tessaly
