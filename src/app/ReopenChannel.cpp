#include "app/ReopenChannel.h"

#include <memory>

#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QLocalSocket>
#include <QTimer>

#include "model/PathText.h"
#include "platform/SettingsStore.h"

namespace qb::app {

namespace {

constexpr char kShow[] = "show";
constexpr char kShare[] = "share";
// Far above any real selection, low enough that a stray client cannot make the instance hoard memory.
constexpr qsizetype kMaxMessageBytes = 4 * 1024 * 1024;
constexpr qsizetype kMaxPathBytes = 4096;
constexpr int kSendLimitMs = 1000;
// A client that connects and never finishes is dropped after this.
constexpr int kReceiveLimitMs = 5000;

}  // namespace

QByteArray encodeReopen(const ReopenRequest& request) {
    QByteArray message(request.share.empty() ? kShow : kShare);
    message.append('\0');
    for (const auto& item : request.share) {
        message.append(item.native().data(), static_cast<qsizetype>(item.native().size()));
        message.append('\0');
    }
    return message;
}

std::optional<ReopenRequest> decodeReopen(const QByteArray& message) {
    QList<QByteArray> fields = message.split('\0');
    // The part after the last NUL is unfinished (empty for a whole message).
    fields.removeLast();
    if (fields.isEmpty() || (fields.front() != kShow && fields.front() != kShare)) {
        return std::nullopt;
    }
    ReopenRequest request;
    if (fields.front() == kShow) {
        return request;
    }
    for (qsizetype index = 1; index < fields.size(); ++index) {
        const QByteArray& field = fields[index];
        if (field.startsWith('/') && field.size() <= kMaxPathBytes) {
            request.share.emplace_back(field.toStdString());
        }
    }
    return request;
}

QString reopenChannelName() {
    const QByteArray folder = QFile::encodeName(model::toQString(platform::SettingsStore::defaultFile().parent_path()));
    const QByteArray digest = QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("quobblefin-") + QString::fromLatin1(digest);
}

bool tellRunningInstance(const QString& channel, const ReopenRequest& request) {
    QLocalSocket socket;
    socket.connectToServer(channel);
    if (!socket.waitForConnected(kSendLimitMs)) {
        return false;
    }
    socket.write(encodeReopen(request));
    // Closing marks the end of the message; waiting for it makes sure every byte has left.
    socket.disconnectFromServer();
    return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(kSendLimitMs);
}

ReopenListener::ReopenListener(const QString& channel, std::function<void(ReopenRequest)> onRequest)
    : onRequest_(std::move(onRequest)) {
    // A socket left behind by a crashed instance would make listening fail.
    QLocalServer::removeServer(channel);
    // Other users of the machine may not hand us files.
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(channel);
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] { acceptAll(); });
}

void ReopenListener::acceptAll() {
    struct Incoming {
        QByteArray bytes;
        bool dropped = false;
    };
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto incoming = std::make_shared<Incoming>();
        auto drop = [socket, incoming] {
            incoming->dropped = true;
            socket->abort();
        };
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, incoming, drop] {
            incoming->bytes.append(socket->readAll());
            if (incoming->bytes.size() > kMaxMessageBytes) {
                drop();
            }
        });
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket, incoming] {
            incoming->bytes.append(socket->readAll());
            // Any other message, such as an older version's, still asks for the panel.
            if (!incoming->dropped) {
                onRequest_(decodeReopen(incoming->bytes).value_or(ReopenRequest{}));
            }
            socket->deleteLater();
        });
        QTimer::singleShot(kReceiveLimitMs, socket, drop);
    }
}

}  // namespace qb::app
