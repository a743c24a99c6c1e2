#include "test_server.h"

#include <mutex>

namespace kavlo::test {

TestHttpServer::TestHttpServer() {
    clock_.start();
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
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
    request.atMs = clock_.elapsed();
    buffer.clear();
    requests.append(request);
    const int status = statuses.isEmpty() ? defaultStatus : statuses.takeFirst();
    if (status == 0)
        held_.append(socket);
    else
        answer(socket, status);
}

void TestHttpServer::answerHeld(int status) {
    for (const QPointer<QTcpSocket>& socket : std::exchange(held_, {})) {
        if (socket)
            answer(socket, status);
    }
}

void TestHttpServer::answer(QTcpSocket* socket, int status) {
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
    if (status != 204)
        response += "Content-Length: 0\r\n";
    response += "Connection: close\r\n\r\n";
    socket->write(response);
    socket->disconnectFromHost();
}

namespace {

std::mutex logMutex;
QList<LogLine> logLines;
QtMessageHandler previousHandler = nullptr;

qint64 logClockMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && QByteArrayView(context.category) == "Analytics") {
        std::lock_guard lock(logMutex);
        logLines.append({logClockMs(), text});
        return;
    }
    previousHandler(type, context, text);
}

} // namespace

void installLogCapture() {
    logClockMs();
    previousHandler = qInstallMessageHandler(captureMessage);
}

QList<LogLine> capturedLog() {
    std::lock_guard lock(logMutex);
    return logLines;
}

void clearCapturedLog() {
    std::lock_guard lock(logMutex);
    logLines.clear();
}

QList<qint64> logTimes(const QString& prefix) {
    QList<qint64> times;
    for (const LogLine& line : capturedLog()) {
        if (line.text.startsWith(prefix))
            times.append(line.atMs);
    }
    return times;
}

} // namespace kavlo::test
