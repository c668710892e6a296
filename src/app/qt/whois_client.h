// The window's TCP client 客户1: one WHOIS connection at a time, shared by every whois
// worker. Name lookup and connect run on the calling worker, bounded in time; the open
// socket is then handed to the user-interface thread, where each arrival of data runs
// onWhoisDataArrived.
#pragma once

#include <QObject>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "app/ports.h"
#include "text/text.h"
#include "whois/tcp_connect.h"

class QTcpSocket;

namespace tessaly {

class WhoisClient final : public QObject, public WhoisConnection {
    Q_OBJECT
public:
    // resolver empty: the system's name lookup. Arrivals go to outputBox.
    WhoisClient(OutputBox& outputBox, HostResolver resolver,
                std::chrono::milliseconds connectTimeout, QObject* parent);
    ~WhoisClient() override;

    // Closes the previous connection silently (nothing more arrives from it), then opens
    // the new one. Connects of several workers run one after another, so no connect
    // closes a connection that another worker is still opening.
    bool connect(std::string_view host, int port) override;
    // Sends on the connection that the calling worker opened last; false when that
    // connection has been replaced since, has closed, or was never opened.
    bool send(std::string_view bytes) override;

private:
    // User-interface thread only.
    void dropConnection();
    bool adopt(int fd, std::uint64_t generation);
    void onReadyRead();

    OutputBox& outputBox_;
    HostResolver resolver_;
    std::chrono::milliseconds connectTimeout_;
    std::mutex connectMutex_;  // held from closing the old connection to handing over the new

    QTcpSocket* socket_ = nullptr;
    std::uint64_t socketGeneration_ = 0;  // which connect opened socket_
    Text answerOnSocket_;                 // what the arrivals on socket_ showed so far
    std::size_t receivedOnSocket_ = 0;    // bytes taken from socket_, at most whoisAnswerLimit
};

}  // namespace tessaly
