// A small HTTP/1.1 server on 127.0.0.1 standing in for the web API in tests.
// It lives on the test's main thread.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace kavlo::test {

struct ReceivedRequest {
    QByteArray method, path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct HttpAnswer {
    int status = 204;
    QByteArray body = {};
    // False: no Content-Length; the body ends when the connection closes.
    bool declareLength = true;
};

// The analytics events the requests' bodies carried, in order.
inline QList<QJsonObject> uploadedEvents(const QList<ReceivedRequest>& requests) {
    QList<QJsonObject> events;
    for (const ReceivedRequest& request : requests)
        for (const QJsonValue& event :
             QJsonDocument::fromJson(request.body).object().value("events").toArray())
            events.append(event.toObject());
    return events;
}

class TestHttpServer : public QObject {
  public:
    TestHttpServer() {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++openConnections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this,
                        [this](qint64 n) { bytesSent += n; });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    --openConnections;
                    buffers_.remove(socket);
                    socket->deleteLater();
                });
            }
        });
    }
    ~TestHttpServer() override {
        // Sockets still open report their end while the server goes; nobody
        // is left to hear it.
        for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>())
            socket->disconnect(this);
    }
    QUrl baseUrl() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()));
    }

    // When set, answers every request; otherwise the status of each next
    // answer in turn, then `defaultStatus`, with an empty body. A status of
    // 0 holds the request unanswered until answerHeld().
    std::function<HttpAnswer(const ReceivedRequest&)> respond;
    QList<int> statuses;
    int defaultStatus = 204;
    // When set, takes over each complete request's connection instead of
    // any answer above, to answer it however the test likes.
    std::function<void(QTcpSocket*)> takeOver;
    QList<ReceivedRequest> requests;
    qint64 bytesSent = 0; // over all connections
    int openConnections = 0;

    void answerHeld(int status) {
        for (const QPointer<QTcpSocket>& socket : std::exchange(held_, {}))
            if (socket)
                answer(socket, {.status = status});
    }

  private:
    void read(QTcpSocket* socket) {
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
        if (takeOver)
            return takeOver(socket);
        if (respond)
            return answer(socket, respond(request));
        const int status = statuses.isEmpty() ? defaultStatus : statuses.takeFirst();
        if (status == 0)
            held_.append(socket);
        else
            answer(socket, {.status = status});
    }
    static void answer(QTcpSocket* socket, const HttpAnswer& answer) {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + " Test\r\n";
        if (answer.status != 204 && answer.declareLength)
            response += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n";
        socket->write(response);
        socket->write(answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QMap<QTcpSocket*, QByteArray> buffers_;
    QList<QPointer<QTcpSocket>> held_;
};

} // namespace kavlo::test
