// The upload client against servers that answer badly: whatever they send,
// the client takes only the status, gives up on time, keeps every event
// that has not had a 2xx, never follows a redirect, holds little memory and
// stays free for new events meanwhile.
#include "client_fixture.h"
#include "hostile_server.h"

#include <QElapsedTimer>

namespace kavlo::test {
namespace {

using Answer = HostileHttpServer::Answer;

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
    HostileHttpServer hostile(GetParam().answer);
    hostile.redirectTo = server.baseUrl();
    info[kApiBaseUrlKey] = hostile.baseUrl().toString();
    manualFlush = false;
    // Retries far apart: one request is what is looked at. The time-out is
    // generous for a busy machine, and shorter than the trickled status line.
    timing = {50ms, 60ms, 10s, 10s, 2500ms};
    auto analytics = start();
    for (int i = 0; i < 3; ++i)
        analytics->track("mac_app_export_started");
    const QStringList tracked = idsOf(analytics->queuedEvents());
    ASSERT_TRUE(waitFor([&] { return hostile.requests == 1; }));

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
