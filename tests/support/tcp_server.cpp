#include "tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tessaly::testing {

TcpScript TcpScript::answer(std::vector<TcpPiece> pieces) {
    TcpScript script;
    script.pieces = std::move(pieces);
    return script;
}

TcpScript TcpScript::resetAfter(std::vector<TcpPiece> pieces) {
    TcpScript script = answer(std::move(pieces));
    script.resetAtEnd = true;
    return script;
}

TcpScript TcpScript::trickle(std::string_view bytes, std::chrono::milliseconds interval) {
    TcpScript script;
    for (char byte : bytes) {
        script.pieces.push_back(TcpPiece{std::string(1, byte), interval});
    }
    return script;
}

TcpScript TcpScript::heldPieces(const std::vector<std::string>& pieces) {
    TcpScript script;
    for (const std::string& bytes : pieces) {
        script.pieces.push_back(TcpPiece{bytes, 0ms, true});
    }
    return script;
}

TcpScript TcpScript::closeWithoutData() {
    TcpScript script;
    script.kind = Kind::closeWithoutData;
    return script;
}

TcpScript TcpScript::neverAnswer() {
    TcpScript script;
    script.kind = Kind::neverAnswer;
    return script;
}

struct TcpServer::State {
    struct Connection {
        int fd = -1;
        std::string received;
        std::size_t released = 0;
        bool clientClosed = false;
        bool answered = false;
        bool served = false;  // its handler has returned
    };

    std::vector<TcpScript> scripts;
    int listenFd = -1;
    int port = 0;
    std::vector<int> fillers;  // connections that keep a never-accepting queue full

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    std::vector<Connection> connections;
    std::thread acceptor;
    std::vector<std::thread> handlers;

    template <class Predicate>
    bool waitFor(std::chrono::milliseconds timeout, Predicate predicate) const {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, predicate);
    }

    // Reads what is there within waitMs; false once the client has closed or on stop.
    bool readSome(std::size_t index, int waitMs) {
        int fd;
        {
            std::lock_guard lock(mutex);
            if (stopping || connections[index].clientClosed) {
                return false;
            }
            fd = connections[index].fd;
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, waitMs) <= 0) {
            return true;
        }
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        std::lock_guard lock(mutex);
        if (n <= 0) {
            connections[index].clientClosed = true;
        } else {
            connections[index].received.append(buffer, static_cast<std::size_t>(n));
        }
        changed.notify_all();
        return n > 0;
    }

    // Sends all of bytes in slices, giving up when the client leaves or the server stops,
    // so that a large piece never holds the server's destructor.
    bool sendAll(std::size_t index, int fd, std::string_view bytes) {
        while (!bytes.empty()) {
            {
                std::lock_guard lock(mutex);
                if (stopping || connections[index].clientClosed) {
                    return false;
                }
            }
            pollfd writable{fd, POLLOUT, 0};
            if (poll(&writable, 1, 50) <= 0) {
                continue;
            }
            const ssize_t n = send(fd, bytes.data(), std::min<std::size_t>(bytes.size(), 1 << 16),
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Aborts the connection: the client sees a reset, not an orderly close.
    void reset(std::size_t index, int fd) {
        const linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        std::lock_guard lock(mutex);
        close(fd);
        connections[index].fd = -1;
        connections[index].clientClosed = true;
        connections[index].answered = true;
        changed.notify_all();
    }

    bool haveQueryLine(std::size_t index) {
        std::lock_guard lock(mutex);
        return connections[index].received.find('\n') != std::string::npos;
    }

    void serve(std::size_t index) {
        serveScript(index);
        std::lock_guard lock(mutex);
        connections[index].served = true;
    }

    void serveScript(std::size_t index) {
        const TcpScript& script = scripts[std::min(index, scripts.size() - 1)];
        int fd;
        {
            std::lock_guard lock(mutex);
            fd = connections[index].fd;
        }
        // The query line ends with its LF; a client that never sends one is served anyway
        // when it closes, or when the server stops.
        while (!haveQueryLine(index) && readSome(index, 50)) {
        }
        if (script.kind == TcpScript::Kind::answer) {
            std::size_t heldSoFar = 0;
            for (const TcpPiece& piece : script.pieces) {
                const auto until = std::chrono::steady_clock::now() + piece.pauseBefore;
                while (std::chrono::steady_clock::now() < until && readSome(index, 10)) {
                }
                if (piece.held) {
                    ++heldSoFar;
                    for (;;) {
                        {
                            std::lock_guard lock(mutex);
                            if (stopping || connections[index].clientClosed ||
                                connections[index].released >= heldSoFar) {
                                break;
                            }
                        }
                        readSome(index, 10);
                    }
                }
                {
                    std::lock_guard lock(mutex);
                    if (stopping || connections[index].clientClosed) {
                        break;
                    }
                }
                if (!sendAll(index, fd, piece.bytes)) {
                    break;
                }
            }
            if (script.resetAtEnd) {
                reset(index, fd);
                return;
            }
        } else if (script.kind == TcpScript::Kind::neverAnswer) {
            while (readSome(index, 50)) {
            }
        }
        {
            std::lock_guard lock(mutex);
            connections[index].answered = true;
            changed.notify_all();
        }
        if (script.kind != TcpScript::Kind::neverAnswer) {
            shutdown(fd, SHUT_WR);
        }
        // Notice the client's close (tests ask for it) until the server stops.
        while (readSome(index, 50)) {
        }
    }

    // Joins the handlers that have returned, so that a long test does not keep the stack of
    // every connection it made. Only the acceptor's thread changes the list of handlers.
    void joinServedHandlers() {
        std::vector<std::size_t> served;
        {
            std::lock_guard lock(mutex);
            for (std::size_t i = 0; i < handlers.size(); ++i) {
                if (connections[i].served && handlers[i].joinable()) {
                    served.push_back(i);
                }
            }
        }
        for (std::size_t i : served) {
            handlers[i].join();
        }
    }

    void acceptLoop() {
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (stopping) {
                    return;
                }
            }
            pollfd waiting{listenFd, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            joinServedHandlers();
            std::lock_guard lock(mutex);
            Connection connection;
            connection.fd = fd;
            connections.push_back(std::move(connection));
            handlers.emplace_back([this, index = connections.size() - 1] { serve(index); });
            changed.notify_all();
        }
    }
};

namespace {

// A socket bound to address (a loopback address) and port (0: any free one), which is set.
int boundLoopbackSocket(const std::string& host, int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
        (ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        close(fd);
        throw std::runtime_error("not a loopback address: " + host);
    }
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool connectsWithin(int fd, const std::string& host, int port, int waitMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, waitMs) <= 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0;
}

}  // namespace

TcpServer::TcpServer(std::vector<TcpScript> scripts, const std::string& address, int port)
    : state_(std::make_shared<State>()) {
    if (scripts.empty()) {
        scripts.push_back(TcpScript::answer({}));
    }
    state_->scripts = std::move(scripts);
    state_->port = port;
    state_->listenFd = boundLoopbackSocket(address, state_->port);
    if (listen(state_->listenFd, 16) != 0) {
        throw std::runtime_error("listen");
    }
    state_->acceptor = std::thread([state = state_.get()] { state->acceptLoop(); });
}

std::unique_ptr<TcpServer> TcpServer::refusing() {
    std::unique_ptr<TcpServer> server(new TcpServer());
    server->state_ = std::make_shared<State>();
    // Bound but not listening: the port stays ours and every connect gets a reset.
    server->state_->listenFd = boundLoopbackSocket("127.0.0.1", server->state_->port);
    return server;
}

std::unique_ptr<TcpServer> TcpServer::neverAccepting(const std::string& address) {
    std::unique_ptr<TcpServer> server(new TcpServer());
    server->state_ = std::make_shared<State>();
    State& state = *server->state_;
    state.listenFd = boundLoopbackSocket(address, state.port);
    if (listen(state.listenFd, 0) != 0) {
        throw std::runtime_error("listen");
    }
    // Fill the accept queue; once a connect no longer completes, the next SYN is dropped
    // and every later client waits until its own time-out.
    for (int i = 0; i < 16; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        state.fillers.push_back(fd);
        if (!connectsWithin(fd, address, state.port, 200)) {
            break;
        }
    }
    return server;
}

TcpServer::~TcpServer() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->changed.notify_all();
    }
    if (state_->acceptor.joinable()) {
        state_->acceptor.join();
    }
    // The acceptor has ended, so the list of handlers no longer grows.
    for (std::thread& handler : state_->handlers) {
        if (handler.joinable()) {
            handler.join();
        }
    }
    for (const State::Connection& connection : state_->connections) {
        if (connection.fd >= 0) {
            close(connection.fd);
        }
    }
    for (int fd : state_->fillers) {
        close(fd);
    }
    close(state_->listenFd);
}

int TcpServer::port() const {
    return state_->port;
}

std::size_t TcpServer::connections() const {
    std::lock_guard lock(state_->mutex);
    return state_->connections.size();
}

std::string TcpServer::received(std::size_t connection) const {
    std::lock_guard lock(state_->mutex);
    return connection < state_->connections.size() ? state_->connections[connection].received
                                                   : std::string();
}

void TcpServer::release(std::size_t connection) {
    std::lock_guard lock(state_->mutex);
    if (connection < state_->connections.size()) {
        ++state_->connections[connection].released;
    }
    state_->changed.notify_all();
}

bool TcpServer::waitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    return state_->waitFor(timeout, [&] { return state_->connections.size() >= count; });
}

bool TcpServer::waitForReceived(std::size_t connection, std::string_view bytes,
                                std::chrono::milliseconds timeout) const {
    return state_->waitFor(timeout, [&] {
        return connection < state_->connections.size() &&
               state_->connections[connection].received.size() >= bytes.size();
    }) && received(connection) == bytes;
}

bool TcpServer::waitForClientClose(std::size_t connection,
                                   std::chrono::milliseconds timeout) const {
    return state_->waitFor(timeout, [&] {
        return connection < state_->connections.size() &&
               state_->connections[connection].clientClosed;
    });
}

bool TcpServer::waitForAnswered(std::size_t connection, std::chrono::milliseconds timeout) const {
    return state_->waitFor(timeout, [&] {
        return connection < state_->connections.size() && state_->connections[connection].answered;
    });
}

}  // namespace tessaly::testing
