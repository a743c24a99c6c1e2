// A small HTTP/1.1 server on 127.0.0.1 standing in for the web API in tests.
// It lives on the test's main thread.
#pragma once

#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace kavlo::test {

struct ReceivedRequest {
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct HttpAnswer {
    int status = 204;
    QByteArray body = {};
    // False: no Content-Length; the body ends when the connection closes.
    bool declareLength = true;
};

class TestHttpServer : public QObject {
  public:
    TestHttpServer();
    ~TestHttpServer() override;
    QUrl baseUrl() const;

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

    void answerHeld(int status);

  private:
    void read(QTcpSocket* socket);
    static void answer(QTcpSocket* socket, const HttpAnswer& answer);

    QTcpServer server_;
    QMap<QTcpSocket*, QByteArray> buffers_;
    QList<QPointer<QTcpSocket>> held_;
};

} // namespace kavlo::test
