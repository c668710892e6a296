#include "app/qt/whois_client.h"

#include <QTcpSocket>

#include <unistd.h>

#include <atomic>

#include "app/qt/ui_thread.h"
#include "whois/whois_query.h"

namespace tessaly {
namespace {

// Qt reads at most this much ahead of the handler, so that one arrival stays small and a
// fast server cannot fill the memory while the user-interface thread is busy.
constexpr qint64 readAheadBytes = 64 * 1024;

std::atomic<std::uint64_t> lastGeneration{0};
// The connection that this thread's last connect opened (0: none). A whois step runs on
// one worker, so its send goes to the connection its own connect opened.
thread_local std::uint64_t generationOfThisThread = 0;

}  // namespace

WhoisClient::WhoisClient(OutputBox& outputBox, HostResolver resolver,
                         std::chrono::milliseconds connectTimeout, QObject* parent)
    : QObject(parent),
      outputBox_(outputBox),
      resolver_(std::move(resolver)),
      connectTimeout_(connectTimeout) {}

WhoisClient::~WhoisClient() = default;

bool WhoisClient::connect(std::string_view host, int port) {
    std::lock_guard lock(connectMutex_);
    generationOfThisThread = 0;
    callOnUiThread(this, [this] { dropConnection(); });
    const int fd = openTcpConnection(host, port, connectTimeout_, resolver_);
    if (fd < 0) {
        return false;
    }
    const std::uint64_t generation = ++lastGeneration;
    bool adopted = false;
    callOnUiThread(this, [&] { adopted = adopt(fd, generation); });
    if (adopted) {
        generationOfThisThread = generation;
    }
    return adopted;
}

bool WhoisClient::send(std::string_view bytes) {
    const std::uint64_t mine = generationOfThisThread;
    bool sent = false;
    callOnUiThread(this, [&] {
        if (mine == 0 || socket_ == nullptr || socketGeneration_ != mine ||
            socket_->state() != QAbstractSocket::ConnectedState) {
            return;
        }
        const auto size = static_cast<qint64>(bytes.size());
        sent = socket_->write(bytes.data(), size) == size;
        socket_->flush();
    });
    return sent;
}

void WhoisClient::dropConnection() {
    if (socket_ == nullptr) {
        return;
    }
    QObject::disconnect(socket_, nullptr, this, nullptr);  // no more arrivals, no events
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
    socketGeneration_ = 0;
}

bool WhoisClient::adopt(int fd, std::uint64_t generation) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        delete socket;
        ::close(fd);
        return false;
    }
    socket->setReadBufferSize(readAheadBytes);
    QObject::connect(socket, &QTcpSocket::readyRead, this, &WhoisClient::onReadyRead);
    socket_ = socket;
    socketGeneration_ = generation;
    answerOnSocket_.clear();
    receivedOnSocket_ = 0;
    return true;
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
                       answerOnSocket_, outputBox_);
    if (receivedOnSocket_ >= whoisAnswerLimit) {
        dropConnection();  // an answer this long is not a WHOIS answer: the rest is not read
    }
}

}  // namespace tessaly
