#include "loopback_whois_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "whois/whois_query.h"

namespace tessaly::testing {

LoopbackWhoisConnection::LoopbackWhoisConnection(OutputBox& outputBox, HostResolver resolver,
                                                 std::chrono::milliseconds timeout)
    : outputBox_(outputBox), resolver_(std::move(resolver)), timeout_(timeout) {}

LoopbackWhoisConnection::~LoopbackWhoisConnection() {
    close();
}

void LoopbackWhoisConnection::close() {
    if (reader_.joinable()) {
        const char stop = 's';
        (void)!write(stopPipe_[1], &stop, 1);
        reader_.join();
    }
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        ::close(stopPipe_[0]);
        ::close(stopPipe_[1]);
    }
    fd_ = -1;
}

WhoisConnectionToken LoopbackWhoisConnection::connect(std::string_view host, int port) {
    std::lock_guard connecting(connectMutex_);
    close();  // silently: the reader is gone before anything more can arrive
    const int fd = openTcpConnection(host, port, timeout_, resolver_);
    if (fd < 0) {
        return WhoisConnectionToken();
    }
    std::lock_guard lock(mutex_);
    fd_ = fd;
    arrivals_ = 0;
    serverClosed_ = false;
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) {
        ::close(fd_);
        fd_ = -1;
        return WhoisConnectionToken();
    }
    reader_ = std::thread([this, fd, stopFd = stopPipe_[0]] { readLoop(fd, stopFd); });
    return WhoisConnectionToken(++connection_);
}

bool LoopbackWhoisConnection::send(WhoisConnectionToken token, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || !token || token.id() != connection_) {
        return false;
    }
    while (!bytes.empty()) {
        pollfd writable{fd_, POLLOUT, 0};
        if (poll(&writable, 1, 10'000) <= 0) {
            return false;
        }
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        bytes.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return true;
}

void LoopbackWhoisConnection::readLoop(int fd, int stopFd) {
    Text answerSoFar;
    std::size_t received = 0;  // like the window's client, at most whoisAnswerLimit
    for (;;) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(waiting, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (waiting[1].revents != 0) {
            return;
        }
        if (waiting[0].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, whoisAnswerLimit - received), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        onWhoisDataArrived(Bytes(buffer, static_cast<std::size_t>(n)), answerSoFar, outputBox_);
        received += static_cast<std::size_t>(n);
        {
            std::lock_guard lock(mutex_);
            ++arrivals_;
            changed_.notify_all();
        }
        if (received >= whoisAnswerLimit) {
            shutdown(fd, SHUT_RDWR);  // the rest of an over-long answer is not read
            break;
        }
    }
    std::lock_guard lock(mutex_);
    serverClosed_ = true;
    changed_.notify_all();
}

std::size_t LoopbackWhoisConnection::arrivals() {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

bool LoopbackWhoisConnection::waitForServerClose(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return serverClosed_; });
}

}  // namespace tessaly::testing
