// One analytics upload: an HTTP POST whose answer is read only as far as its
// status line. Internal to the module.
//
// Qt's HTTP client reads an answer's headers for as long as the server
// sends them, on a thread of its own that cannot be stopped meanwhile: a
// server sending headers without end would grow memory and keep the
// application from quitting. The upload needs nothing but the status, so it
// speaks just enough HTTP/1.1 itself: the request, then at most 16 KB of
// answer, a hard deadline, no redirects followed, and the connection
// dropped as soon as the status is known.
//
// Threads: lives on the thread that creates it; its callback runs there.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class QTcpSocket;

namespace kavlo {

class UploadRequest : public QObject {
  public:
    // The HTTP status (any, redirects included), or 0 with a description
    // when there is none: no connection, a reset, a time-out, an answer
    // that is not HTTP.
    using Done = std::function<void(int status, const QString& error)>;

    // Starts at once. `url` is http or https; `done` is called exactly once,
    // later, from the event loop, unless the request is destroyed first. The
    // callback must not delete the request (deleteLater() it).
    UploadRequest(const QUrl& url, std::vector<std::pair<QByteArray, QByteArray>> headers,
                  QByteArray body, std::chrono::milliseconds timeout, Done done,
                  QObject* parent = nullptr);
    ~UploadRequest() override;

  private:
    void onReadable();
    void finish(int status, const QString& error);

    Done done_;
    QTcpSocket* socket_ = nullptr; // owned (child)
    QTimer deadline_;
    QByteArray answer_;
    QByteArray request_;
    bool interim_ = false; // inside the headers of a 1xx answer
};

} // namespace kavlo
