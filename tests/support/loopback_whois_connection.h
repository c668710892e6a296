// A WhoisConnection for the Qt-free tests: the same bounded connect as the window's
// client, with a reader thread in place of the user-interface thread that hands every
// arrival to onWhoisDataArrived. Its connects run one after another; giving way to a newer
// connect is the window's client's own and is tested on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "lookup/ports.h"
#include "net/tcp_connect.h"

namespace tessaly::testing {

class LoopbackWhoisConnection final : public WhoisConnection {
public:
    explicit LoopbackWhoisConnection(OutputBox& outputBox, HostResolver resolver = {},
                                     std::chrono::milliseconds timeout = whoisConnectTimeout);
    ~LoopbackWhoisConnection() override;

    WhoisConnectionToken connect(std::string_view host, int port) override;
    bool send(WhoisConnectionToken token, std::string_view bytes) override;

    // Arrivals handed to onWhoisDataArrived since the last connect.
    std::size_t arrivals();
    // The server has closed the current connection (or the client has, after
    // whoisAnswerLimit bytes) and every arrival has been handled.
    bool waitForServerClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    void close();
    void readLoop(int fd, int stopFd);

    OutputBox& outputBox_;
    HostResolver resolver_;
    std::chrono::milliseconds timeout_;
    std::mutex connectMutex_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;
    std::uint64_t connection_ = 0;  // which connect opened fd_
    int stopPipe_[2] = {-1, -1};
    std::thread reader_;
    std::size_t arrivals_ = 0;
    bool serverClosed_ = false;
};

}  // namespace tessaly::testing
