// An HTTP server on 127.0.0.1 that answers every request in one bad way, for
// the upload client's tests. Lives on the test's main thread.
#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace kavlo::test {

class HostileHttpServer : public QObject {
  public:
    enum class Answer {
        hugeBody,         // 200 with a body of 2 GB, sent as fast as it is taken
        tricklingHeaders, // a 200 whose status line alone takes 5 s, a byte at a time
        endlessHeaders,   // a 200 status line, then header lines without end
        reset,            // the connection reset once the request is in
        garbageBody,      // 200 with a body of random bytes
        notHttp,          // random bytes instead of an HTTP answer
        redirect,         // 307 to `redirectTo`
        interimAnswer,    // 100 Continue with a header, then 204
    };

    explicit HostileHttpServer(Answer answer);
    QUrl baseUrl() const;

    QUrl redirectTo;
    int requests = 0;     // complete requests received
    qint64 bytesSent = 0; // over all connections
    int openConnections = 0;

  private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket);
    void feed(QTcpSocket* socket);

    Answer answer_;
    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> received_;
    QHash<QTcpSocket*, qint64> bodyLeft_;
};

} // namespace kavlo::test
