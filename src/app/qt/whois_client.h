// The window's TCP client 客户1: one WHOIS connection at a time, shared by every whois
// worker. Name lookup and connect run on the calling worker, bounded in time; the open
// socket is then handed to the user-interface thread, where each arrival of data runs
// onWhoisDataArrived.
//
// Two halves: WhoisClient is the control, a QObject of the window that lives on the
// user-interface thread and owns the socket; QtWhoisConnection is the port that workers
// call, which they share the ownership of and which reaches the control only through the
// window's channel, so it stays safe to call after the window has gone.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "app/qt/ui_channel.h"
#include "lookup/ports.h"
#include "net/tcp_connect.h"
#include "text/text.h"

class QTcpSocket;

namespace tessaly {

class WhoisClient final : public QObject {
    Q_OBJECT
public:
    // Arrivals go to outputBox.
    WhoisClient(std::shared_ptr<OutputBox> outputBox, QObject* parent);
    ~WhoisClient() override;

    // User-interface thread only.
    // Closes the current connection silently: nothing more arrives from it.
    void dropConnection();
    // Takes the connected socket fd as the connection that token names (closing fd when it
    // cannot); false then.
    bool adopt(int fd, WhoisConnectionToken token);
    // Writes bytes to the connection that token names, if it is still the current one and
    // connected.
    bool sendOn(WhoisConnectionToken token, std::string_view bytes);

private:
    void onReadyRead();

    std::shared_ptr<OutputBox> outputBox_;
    QTcpSocket* socket_ = nullptr;
    WhoisConnectionToken socketToken_;  // which connect opened socket_
    Text answerOnSocket_;               // what the arrivals on socket_ showed so far
    std::size_t receivedOnSocket_ = 0;  // bytes taken from socket_, at most whoisAnswerLimit
};

class QtWhoisConnection final : public WhoisConnection {
public:
    // resolver empty: the system's name lookup. client must stay valid while channel is open.
    QtWhoisConnection(WhoisClient* client, std::shared_ptr<UiChannel> channel,
                      HostResolver resolver, std::chrono::milliseconds connectTimeout);

    // Closes the previous connection silently (nothing more arrives from it), then opens
    // the new one. The later connect wins, as the box's last write does: a connect still
    // being made when a newer one starts gives way (it fails, so its worker writes and sends
    // nothing), and the newer one proceeds at once. A connect never closes the connection
    // that a newer one has opened.
    WhoisConnectionToken connect(std::string_view host, int port) override;
    // Sends on the connection that token names; false when that connection has been
    // replaced since or has closed, or the window has gone.
    bool send(WhoisConnectionToken token, std::string_view bytes) override;

private:
    WhoisClient* client_;
    std::shared_ptr<UiChannel> channel_;
    HostResolver resolver_;
    std::chrono::milliseconds connectTimeout_;
    std::atomic<std::uint64_t> lastAttempt_{0};  // the newest connect; it names its token
};

}  // namespace tessaly
