#include "app/single_instance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QtEndian>

namespace kavlo {

namespace {

constexpr quint32 kMaxMessageBytes = 64 * 1024;
constexpr char kTaken = 'k';

} // namespace

QString instanceSocketName() {
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).filePath(QStringLiteral("kavlo.socket"));
}

InstanceServer::InstanceServer(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
    // No socket options: with them Qt binds elsewhere and renames the
    // socket into place, replacing a running instance's. The runtime
    // directory keeps other users out.
    connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::accept);
}

bool InstanceServer::listen() {
    if (server_.listen(name_))
        return true;
    if (server_.serverError() != QAbstractSocket::AddressInUseError)
        return false;
    // A socket file is there: either an instance answers on it, or one
    // that ended without removing it left it behind.
    QLocalSocket probe;
    probe.connectToServer(name_);
    if (probe.waitForConnected(1000))
        return false;
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

void InstanceServer::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < 4)
                return;
            char header[4];
            socket->peek(header, 4);
            const quint32 length = qFromBigEndian<quint32>(header);
            if (length == 0 || length > kMaxMessageBytes) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < 4 + qint64(length))
                return;
            socket->skip(4);
            const QByteArray bytes = socket->read(length);
            socket->write(&kTaken, 1);
            socket->flush();
            emit fileReceived(std::filesystem::path(bytes.toStdString()));
        });
    }
}

bool handOverToRunningInstance(const std::filesystem::path& file, const QString& name,
                               int timeoutMs) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    const std::string bytes = (error ? file : absolute).string();
    if (bytes.empty() || bytes.size() > kMaxMessageBytes)
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    char header[4];
    qToBigEndian<quint32>(static_cast<quint32>(bytes.size()), header);
    socket.write(header, 4);
    socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    char answer = 0;
    return socket.waitForReadyRead(timeoutMs) && socket.read(&answer, 1) == 1 && answer == kTaken;
}

} // namespace kavlo
