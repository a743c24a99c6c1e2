#include "analytics/upload_request.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace kavlo {

namespace {

// More than any status line and interim answer; the rest is never read.
constexpr qsizetype kMaxAnswerBytes = 16 * 1024;

// The status of a line "HTTP/1.x 204 Reason", or 0 when it is not one.
int statusOf(const QByteArray& line) {
    if (!line.startsWith("HTTP/1.") || line.size() < 12 || line[8] != ' ')
        return 0;
    bool ok = false;
    const int status = line.mid(9, 3).toInt(&ok);
    return ok && status >= 100 && status <= 999 && (line.size() == 12 || line[12] == ' ') ? status
                                                                                          : 0;
}

} // namespace

UploadRequest::UploadRequest(const QUrl& url,
                             std::vector<std::pair<QByteArray, QByteArray>> headers,
                             QByteArray body, std::chrono::milliseconds timeout, Done done,
                             QObject* parent)
    : QObject(parent), done_(std::move(done)) {
    const bool secure = url.scheme().compare(u"https", Qt::CaseInsensitive) == 0;
    const quint16 port = quint16(url.port(secure ? 443 : 80));
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']'; // an IPv6 address
    if (url.port() != -1)
        host += ':' + QByteArray::number(port);
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();

    request_ = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : headers)
        request_ += name + ": " + value + "\r\n";
    request_ += "Content-Length: " + QByteArray::number(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body;

    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this,
            [this] { finish(0, QStringLiteral("No answer within the request time-out")); });
    deadline_.start(timeout);

    socket_ = secure ? new QSslSocket(this) : new QTcpSocket(this);
    // Qt stops taking bytes from the system once this much waits unread.
    socket_->setReadBufferSize(kMaxAnswerBytes);
    connect(socket_, &QTcpSocket::readyRead, this, &UploadRequest::onReadable);
    connect(socket_, &QTcpSocket::errorOccurred, this,
            [this] { finish(0, socket_->errorString()); });
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        finish(0, QStringLiteral("The server closed the connection without an answer"));
    });
    // Connecting may fail at once; the caller hears of it only later.
    QMetaObject::invokeMethod(
        this,
        [this, host = url.host(), port, secure] {
            if (!done_)
                return; // timed out before it began
            if (secure) {
                auto* socket = static_cast<QSslSocket*>(socket_);
                connect(socket, &QSslSocket::encrypted, this, [this] { socket_->write(request_); });
                socket->connectToHostEncrypted(host, port);
            } else {
                connect(socket_, &QTcpSocket::connected, this,
                        [this] { socket_->write(request_); });
                socket_->connectToHost(host, port);
            }
        },
        Qt::QueuedConnection);
}

UploadRequest::~UploadRequest() {
    if (socket_)
        socket_->disconnect(this);
}

void UploadRequest::onReadable() {
    answer_ += socket_->read(kMaxAnswerBytes - answer_.size());
    for (qsizetype end; (end = answer_.indexOf('\n')) >= 0;) {
        const QByteArray line = answer_.left(end).trimmed();
        answer_.remove(0, end + 1);
        if (interim_) {
            interim_ = !line.isEmpty(); // a blank line ends the interim answer
            continue;
        }
        const int status = statusOf(line);
        if (status == 0)
            return finish(0, QStringLiteral("The answer is not HTTP"));
        if (status >= 200)
            return finish(status, {});
        interim_ = true; // 1xx: the real answer follows
    }
    if (answer_.size() >= kMaxAnswerBytes)
        finish(0, QStringLiteral("The answer is not HTTP"));
}

void UploadRequest::finish(int status, const QString& error) {
    if (!done_)
        return;
    deadline_.stop();
    // Whatever else the server sends is not wanted.
    socket_->disconnect(this);
    socket_->abort();
    std::exchange(done_, nullptr)(status, error);
}

} // namespace kavlo
