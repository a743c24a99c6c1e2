#include "hostile_server.h"

#include <QRandomGenerator>

#include <sys/socket.h>

namespace kavlo::test {

namespace {

constexpr qint64 kHugeBody = qint64(2) << 30;
constexpr qint64 kChunk = 64 * 1024;

QByteArray randomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

} // namespace

HostileHttpServer::HostileHttpServer(Answer answer) : answer_(answer) {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++openConnections;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feed(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                --openConnections;
                received_.remove(socket);
                bodyLeft_.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

QUrl HostileHttpServer::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

void HostileHttpServer::onReadyRead(QTcpSocket* socket) {
    QByteArray& buffer = received_[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const qsizetype lengthAt = buffer.toLower().indexOf("content-length:");
    const qint64 length =
        lengthAt < 0 ? 0
                     : buffer.mid(lengthAt + 15, buffer.indexOf('\r', lengthAt) - lengthAt - 15)
                           .trimmed()
                           .toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    buffer.clear();
    ++requests;
    answer(socket);
}

void HostileHttpServer::answer(QTcpSocket* socket) {
    auto send = [&](const QByteArray& bytes) { bytesSent += socket->write(bytes); };
    switch (answer_) {
    case Answer::hugeBody:
        send("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kHugeBody) + "\r\n\r\n");
        bodyLeft_[socket] = kHugeBody;
        feed(socket);
        break;
    case Answer::tricklingHeaders:
    case Answer::endlessHeaders: {
        auto* timer = new QTimer(socket);
        const bool trickle = answer_ == Answer::tricklingHeaders;
        connect(
            timer, &QTimer::timeout, socket, [this, socket, trickle, at = qsizetype(0)]() mutable {
                static const QByteArray kSlow = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                if (trickle) {
                    if (at < kSlow.size())
                        bytesSent += socket->write(kSlow.mid(at++, 1));
                } else if (socket->bytesToWrite() < 4 * kChunk) {
                    bytesSent +=
                        socket->write(at++ == 0 ? QByteArray("HTTP/1.1 200 OK\r\n")
                                                : "X-Padding: " + QByteArray(kChunk, 'a') + "\r\n");
                }
            });
        timer->start(trickle ? 300 : 1);
        break;
    }
    case Answer::reset: {
        // A zero linger time makes the close a reset.
        const linger abortive{1, 0};
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                   sizeof abortive);
        socket->abort();
        break;
    }
    case Answer::garbageBody:
        send("HTTP/1.1 200 OK\r\nContent-Length: 512\r\nConnection: close\r\n\r\n" +
             randomBytes(512));
        socket->disconnectFromHost();
        break;
    case Answer::notHttp:
        send(randomBytes(512));
        socket->disconnectFromHost();
        break;
    case Answer::interimAnswer:
        send("HTTP/1.1 100 Continue\r\nX-Note: wait\r\n\r\nHTTP/1.1 204 No Content\r\n\r\n");
        socket->disconnectFromHost();
        break;
    case Answer::redirect:
        send("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + redirectTo.toEncoded() +
             "/api/mac/analytics\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        break;
    }
}

void HostileHttpServer::feed(QTcpSocket* socket) {
    auto left = bodyLeft_.find(socket);
    if (left == bodyLeft_.end())
        return;
    // Only as fast as the client takes it, so the server holds little.
    while (*left > 0 && socket->bytesToWrite() < 4 * kChunk) {
        const qint64 written = socket->write(QByteArray(int(std::min(*left, kChunk)), '\0'));
        if (written <= 0)
            return;
        *left -= written;
        bytesSent += written;
    }
}

} // namespace kavlo::test
