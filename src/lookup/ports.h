// The small interfaces through which the Qt-free core reaches the window: the output
// box, the domain box, message boxes and the window's TCP client. The Qt program in
// app/qt/ implements them; the tests implement them in memory or on loopback sockets.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "text/text.h"

namespace tessaly {

// The output box 编辑框2, the tool's one result channel. Every operation may be called
// from any thread; it is carried out whole, and the caller waits until it is done.
class OutputBox {
public:
    virtual ~OutputBox() = default;
    // Replaces the whole content.
    virtual void setText(std::string_view text) = 0;
    // A copy of the whole content.
    virtual Text readText() = 0;
    // Moves the caret to the end, scrolls it into view and inserts the text there.
    virtual void appendText(std::string_view text) = 0;
    // Caret to the start, nothing selected, the top of the content in view.
    virtual void caretToStart() = 0;
};

// The domain box 编辑框1; read once at the start of each chain.
class DomainBox {
public:
    virtual ~DomainBox() = default;
    virtual Text readText() = 0;
};

// Message boxes without an owner window, OK button only, no icon.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void showMessage(std::string_view caption, std::string_view text) = 0;
};

// A connect of the window's TCP client that neither resolves nor connects within this time
// fails like a refused one.
inline constexpr std::chrono::milliseconds whoisConnectTimeout{10'000};

// Names the connection that one connect opened, so that a worker's query line can only go
// into its own connection. A failed connect hands back an empty token; one that gave way to
// a newer connect (or found the window gone) says so, since its lookup is then over.
class WhoisConnectionToken {
public:
    WhoisConnectionToken() = default;
    explicit WhoisConnectionToken(std::uint64_t id) : id_(id) {}
    static WhoisConnectionToken gaveWay() {
        WhoisConnectionToken token;
        token.gaveWay_ = true;
        return token;
    }
    explicit operator bool() const { return id_ != 0; }
    std::uint64_t id() const { return id_; }
    // A newer connect took the client over while this one was being made.
    bool gaveWayToANewerConnect() const { return gaveWay_; }
    friend bool operator==(WhoisConnectionToken, WhoisConnectionToken) = default;

private:
    std::uint64_t id_ = 0;
    bool gaveWay_ = false;
};

// The window's TCP client 客户1: one connection at a time, shared by all whois workers.
// Data that arrives is handed to onWhoisDataArrived on the user-interface thread.
class WhoisConnection {
public:
    virtual ~WhoisConnection() = default;
    // Closes any previous connection silently, then resolves host (IPv4) and connects.
    // Blocks the calling worker. The empty token for an empty host, a name that does not
    // resolve, a refused connection or a time-out.
    virtual WhoisConnectionToken connect(std::string_view host, int port) = 0;
    // Hands every byte to the connection that token names; false when it has been replaced
    // or closed since, or the token is empty.
    virtual bool send(WhoisConnectionToken token, std::string_view bytes) = 0;
};

}  // namespace tessaly
