// The upload client against servers that answer badly: it takes only the status,
// gives up on time, keeps undelivered events and follows no redirect.
#include "client_fixture.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <sys/socket.h>

namespace kavlo::test {
namespace {

enum class Answer {
    hugeBody,         // 200 with a body of 2 GB, sent as fast as it is taken
    tricklingHeaders, // a 200 whose status line alone takes 5 s, a byte at a time
    endlessHeaders,   // a 200 status line, then header lines without end
    reset,            // the connection reset once the request is in
    garbageBody,      // 200 with a body of random bytes
    notHttp,          // random bytes instead of an HTTP answer
    redirect,         // 307 to another server
    interimAnswer,    // 100 Continue with a header, then 204
};

constexpr qint64 kHugeBody = qint64(2) << 30, kChunk = 64 * 1024;

QByteArray randomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void answerBadly(QTcpSocket* socket, Answer answer, const QUrl& elsewhere) {
    switch (answer) {
    case Answer::hugeBody: {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kHugeBody) +
                      "\r\n\r\n");
        // Only as fast as the client takes it, so the server holds little.
        auto feed = [socket, left = std::make_shared<qint64>(kHugeBody)] {
            while (*left > 0 && socket->bytesToWrite() < 4 * kChunk) {
                const qint64 written =
                    socket->write(QByteArray(int(std::min(*left, kChunk)), '\0'));
                if (written <= 0)
                    return;
                *left -= written;
            }
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        feed();
        break;
    }
    case Answer::tricklingHeaders:
    case Answer::endlessHeaders: {
        auto* timer = new QTimer(socket);
        const bool trickle = answer == Answer::tricklingHeaders;
        QObject::connect(
            timer, &QTimer::timeout, socket, [socket, trickle, at = qsizetype(0)]() mutable {
                static const QByteArray kSlow = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
                if (trickle) {
                    if (at < kSlow.size())
                        socket->write(kSlow.mid(at++, 1));
                } else if (socket->bytesToWrite() < 4 * kChunk) {
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
    default: // a whole answer at once
        socket->write(
            answer == Answer::garbageBody
                ? "HTTP/1.1 200 OK\r\nContent-Length: 512\r\nConnection: close\r\n\r\n" +
                      randomBytes(512)
            : answer == Answer::notHttp ? randomBytes(512)
            : answer == Answer::interimAnswer
                ? QByteArray("HTTP/1.1 100 Continue\r\nX-Note: wait\r\n\r\n"
                             "HTTP/1.1 204 No Content\r\n\r\n")
                : "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.toEncoded() +
                      "/api/mac/analytics\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }
}

struct Case {
    const char* name;
    Answer answer;
    bool delivered; // the server answered 2xx, so the events are gone
};
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class HostileServer : public AnalyticsClientTest, public ::testing::WithParamInterface<Case> {};

TEST_P(HostileServer, TakesOnlyTheStatusKeepsUndeliveredEventsAndNeverBlocks) {
    TestHttpServer hostile;
    hostile.takeOver = [this](QTcpSocket* socket) {
        answerBadly(socket, GetParam().answer, server.baseUrl());
    };
    info[kApiBaseUrlKey] = hostile.baseUrl().toString();
    manualFlush = false;
    // Retries far apart: one request is what is looked at. The time-out is
    // generous for a busy machine, and shorter than the trickled status line.
    timing = {50ms, 60ms, 10s, 10s, 2500ms};
    auto analytics = start();
    for (int i = 0; i < 3; ++i)
        analytics->track("mac_app_export_started");
    const QStringList tracked = idsOf(analytics->queuedEvents());
    ASSERT_TRUE(waitFor([&] { return hostile.requests.size() == 1; }));

    // With the upload in flight, events are still taken at once.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20; ++i)
        analytics->track("mac_app_speed_changed");
    EXPECT_EQ(analytics->queuedEvents().size(), 23);
    EXPECT_LT(clock.elapsed(), 2000);

    // Settled one way or the other, with the connection dropped and little
    // sent: the client read no body.
    ASSERT_TRUE(
        waitFor([&] { return analytics->queuedEvents().size() == 20 || logCount(kDeferred) > 0; }));
    EXPECT_TRUE(waitFor([&] { return hostile.openConnections == 0; }));
    EXPECT_LT(hostile.bytesSent, qint64(64) << 20);

    const QStringList queued = idsOf(analytics->queuedEvents());
    if (GetParam().delivered) {
        for (const QString& id : tracked)
            EXPECT_FALSE(queued.contains(id));
    } else {
        EXPECT_EQ(queued.mid(0, 3), tracked);
        EXPECT_EQ(idsOf(QueueFile(queuePath).load()), queued);
    }
    EXPECT_TRUE(server.requests.isEmpty()) << "followed a redirect";
}

INSTANTIATE_TEST_SUITE_P(
    Analytics, HostileServer,
    ::testing::Values(Case{"TwoGigabyteBody", Answer::hugeBody, true},
                      Case{"GarbageBody", Answer::garbageBody, true},
                      Case{"HeadersAByteAtATime", Answer::tricklingHeaders, false},
                      Case{"EndlessHeaders", Answer::endlessHeaders, true},
                      Case{"ResetConnection", Answer::reset, false},
                      Case{"NotHttp", Answer::notHttp, false},
                      Case{"RedirectToAnotherHost", Answer::redirect, false},
                      Case{"ContinueThenNoContent", Answer::interimAnswer, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavlo::test
