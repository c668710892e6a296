// A loopback WHOIS-style TCP server for the tests, on 127.0.0.1. Each connection is served
// by a script: it reads the query line, then answers in pieces (with pauses, or held back
// until the test releases them), closes without data, or never answers. It can also stand
// for a port that refuses connections or a server that never accepts one. It records what
// every connection received and whether the client closed it. Every wait is bounded.
//
//   TcpServer server({TcpScript::answer({"Domain Name: EXAMPLE.COM\n"})});
//   ... connect to 127.0.0.1:server.port(), send "example.com\n\r" ...
//   server.waitForReceived(0, "example.com\n\r");
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::testing {

using namespace std::chrono_literals;

// One piece of an answer.
struct TcpPiece {
    std::string bytes;
    std::chrono::milliseconds pauseBefore{0};
    bool held = false;  // sent only once the test calls release() for this connection
};

// What the server does with one connection.
struct TcpScript {
    enum class Kind {
        answer,            // after the query line, the pieces in order, then close
        closeWithoutData,  // after the query line, close without a byte
        neverAnswer,       // read everything, send nothing, keep the connection open
    };
    Kind kind = Kind::answer;
    std::vector<TcpPiece> pieces;
    bool resetAtEnd = false;  // after the pieces, abort with a reset (RST) instead of closing

    static TcpScript answer(std::vector<TcpPiece> pieces);
    // The pieces, then a reset in the middle of the answer.
    static TcpScript resetAfter(std::vector<TcpPiece> pieces);
    // Each byte of bytes after a pause of interval.
    static TcpScript trickle(std::string_view bytes, std::chrono::milliseconds interval);
    // Every piece held until released, so a test can look at the box between pieces.
    static TcpScript heldPieces(const std::vector<std::string>& pieces);
    static TcpScript closeWithoutData();
    static TcpScript neverAnswer();
};

class TcpServer {
public:
    // scripts[i] serves connection i; the last script serves every later connection. It
    // listens on address (a loopback address) and port (0: a free one).
    explicit TcpServer(std::vector<TcpScript> scripts, const std::string& address = "127.0.0.1",
                       int port = 0);
    // A port on 127.0.0.1 where nothing listens: every connect is refused.
    static std::unique_ptr<TcpServer> refusing();
    // A server whose accept queue is full: connects neither succeed nor fail until the
    // client gives up.
    static std::unique_ptr<TcpServer> neverAccepting(const std::string& address = "127.0.0.1");
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    int port() const;

    std::size_t connections() const;
    // The bytes connection i has received so far (empty for one that does not exist).
    std::string received(std::size_t connection) const;
    // Lets the next held piece of that connection go.
    void release(std::size_t connection);

    // Bounded waits; false when the time ran out.
    bool waitForConnections(std::size_t count, std::chrono::milliseconds timeout = 10s) const;
    bool waitForReceived(std::size_t connection, std::string_view bytes,
                         std::chrono::milliseconds timeout = 10s) const;
    // The client closed connection i (the server read the end of its stream).
    bool waitForClientClose(std::size_t connection, std::chrono::milliseconds timeout = 10s) const;
    // Connection i has sent its last piece (or given up because the client left).
    bool waitForAnswered(std::size_t connection, std::chrono::milliseconds timeout = 10s) const;

    struct State;

private:
    TcpServer() = default;
    std::shared_ptr<State> state_;
};

}  // namespace tessaly::testing
