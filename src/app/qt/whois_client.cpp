#include "app/qt/whois_client.h"

#include <QTcpSocket>

#include <unistd.h>

#include <string>

#include "base/log.h"
#include "whois/whois_query.h"

namespace tessaly {
namespace {

// Qt reads at most this much ahead of the handler, so that one arrival stays small and a
// fast server cannot fill the memory while the user-interface thread is busy.
constexpr qint64 readAheadBytes = 64 * 1024;

}  // namespace

WhoisClient::WhoisClient(std::shared_ptr<OutputBox> outputBox, QObject* parent)
    : QObject(parent), outputBox_(std::move(outputBox)) {}

WhoisClient::~WhoisClient() = default;

void WhoisClient::dropConnection() {
    if (socket_ == nullptr) {
        return;
    }
    QObject::disconnect(socket_, nullptr, this, nullptr);  // no more arrivals, no events
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
    socketToken_ = WhoisConnectionToken();
}

bool WhoisClient::adopt(int fd, WhoisConnectionToken token) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        delete socket;
        ::close(fd);
        return false;
    }
    socket->setReadBufferSize(readAheadBytes);
    QObject::connect(socket, &QTcpSocket::readyRead, this, &WhoisClient::onReadyRead);
    socket_ = socket;
    socketToken_ = token;
    answerOnSocket_.clear();
    receivedOnSocket_ = 0;
    return true;
}

bool WhoisClient::sendOn(WhoisConnectionToken token, std::string_view bytes) {
    if (!token || socket_ == nullptr || socketToken_ != token ||
        socket_->state() != QAbstractSocket::ConnectedState) {
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    const bool sent = socket_->write(bytes.data(), size) == size;
    socket_->flush();
    return sent;
}

void WhoisClient::onReadyRead() {
    if (sender() != socket_ || socket_ == nullptr) {
        return;
    }
    const QByteArray data =
        socket_->read(static_cast<qint64>(whoisAnswerLimit - receivedOnSocket_));
    if (data.isEmpty()) {
        return;
    }
    receivedOnSocket_ += static_cast<std::size_t>(data.size());
    onWhoisDataArrived(Bytes(data.constData(), static_cast<std::size_t>(data.size())),
                       answerOnSocket_, *outputBox_);
    if (receivedOnSocket_ >= whoisAnswerLimit) {
        logLine(LogTopic::whois, "answer cut off after ", receivedOnSocket_, " bytes");
        dropConnection();  // an answer this long is not a WHOIS answer: the rest is not read
    }
}

QtWhoisConnection::QtWhoisConnection(WhoisClient* client, std::shared_ptr<UiChannel> channel,
                                     HostResolver resolver,
                                     std::chrono::milliseconds connectTimeout)
    : client_(client),
      channel_(std::move(channel)),
      resolver_(std::move(resolver)),
      connectTimeout_(connectTimeout) {}

WhoisConnectionToken QtWhoisConnection::connect(std::string_view host, int port) {
    const std::uint64_t attempt = ++lastAttempt_;
    const auto abandoned = [this, attempt] { return lastAttempt_.load() != attempt; };
    if (!channel_->call([this] { client_->dropConnection(); })) {
        return WhoisConnectionToken::gaveWay();  // the window has gone
    }
    std::string failure;
    const int fd = openTcpConnection(host, port, connectTimeout_, resolver_, &failure, abandoned);
    if (fd < 0) {
        logLine(LogTopic::whois, "connect to ", host, ":", port, " failed: ", failure);
        return abandoned() ? WhoisConnectionToken::gaveWay() : WhoisConnectionToken();
    }
    const WhoisConnectionToken token(attempt);
    bool adopted = false;
    // Decided on the user-interface thread, where every drop and adopt runs: once a newer
    // connect has begun this one gives way; a newer one that begins after this adopt closes
    // the connection with its drop, as any later connect does.
    const bool served = channel_->call([&] {
        if (abandoned()) {
            ::close(fd);
            logLine(LogTopic::whois, "connect to ", host, ":", port,
                    " given up for a newer connect");
        } else {
            adopted = client_->adopt(fd, token);
        }
    });
    if (!served) {
        ::close(fd);
        return WhoisConnectionToken::gaveWay();
    }
    if (!adopted) {
        return abandoned() ? WhoisConnectionToken::gaveWay() : WhoisConnectionToken();
    }
    logLine(LogTopic::whois, "connected to ", host, ":", port);
    return token;
}

bool QtWhoisConnection::send(WhoisConnectionToken token, std::string_view bytes) {
    bool sent = false;
    channel_->call([&] { sent = client_->sendOn(token, bytes); });
    return sent;
}

}  // namespace tessaly
