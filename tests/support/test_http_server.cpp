#include "support/test_http_server.h"

namespace kavlo::test {

TestHttpServer::TestHttpServer() {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++openConnections;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this](qint64 n) { bytesSent += n; });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                --openConnections;
                buffers_.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

TestHttpServer::~TestHttpServer() {
    // Sockets still open report their end while the server goes; nobody
    // is left to hear it.
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

QUrl TestHttpServer::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
}

void TestHttpServer::read(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    ReceivedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    requests.append(request);
    if (takeOver) {
        takeOver(socket);
        return;
    }
    if (respond) {
        answer(socket, respond(request));
        return;
    }
    const int status = statuses.isEmpty() ? defaultStatus : statuses.takeFirst();
    if (status == 0)
        held_.append(socket);
    else
        answer(socket, {.status = status});
}

void TestHttpServer::answerHeld(int status) {
    for (const QPointer<QTcpSocket>& socket : std::exchange(held_, {})) {
        if (socket)
            answer(socket, {.status = status});
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const HttpAnswer& answer) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + " Test\r\n";
    if (answer.status != 204 && answer.declareLength)
        response += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    socket->write(response);
    socket->write(answer.body);
    socket->disconnectFromHost();
}

} // namespace kavlo::test
