// A small HTTP/1.1 server on 127.0.0.1 for the upload tests, and a capture
// of the "Analytics" log lines. Both live on the test's main thread.
#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace kavlo::test {

struct ReceivedRequest {
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    qint64 atMs = 0; // when it was complete, on the server's clock
};

class TestHttpServer : public QObject {
  public:
    TestHttpServer();
    ~TestHttpServer() override;
    QUrl baseUrl() const;

    // The status of each next answer in turn, then `defaultStatus`.
    // A status of 0 holds the request unanswered until answerHeld().
    QList<int> statuses;
    int defaultStatus = 204;
    QList<ReceivedRequest> requests;

    void answerHeld(int status);

  private:
    void read(QTcpSocket* socket);
    static void answer(QTcpSocket* socket, int status);

    QTcpServer server_;
    QElapsedTimer clock_;
    QMap<QTcpSocket*, QByteArray> buffers_;
    QList<QPointer<QTcpSocket>> held_;
};

// Milliseconds since the first log line was captured in this process, and
// the text, for every line of the "Analytics" category.
struct LogLine {
    qint64 atMs;
    QString text;
};
void installLogCapture();
QList<LogLine> capturedLog();
void clearCapturedLog();
// The times of the captured lines that start with `prefix`.
QList<qint64> logTimes(const QString& prefix);

} // namespace kavlo::test
