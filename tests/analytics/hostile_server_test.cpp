// The upload client against servers that answer badly: whatever they send,
// the client takes only the status, gives up on time, keeps every event
// that has not had a 2xx, never follows a redirect, holds little memory and
// stays free for new events meanwhile.
#include "analytics/app_analytics.h"
#include "analytics/bundle_info.h"
#include "analytics/queue_file.h"
#include "hostile_server.h"
#include "log_capture.h"
#include "support/test_http_server.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kavlo {
namespace {

using namespace std::chrono_literals;
using Answer = test::HostileHttpServer::Answer;

struct Case {
    const char* name;
    Answer answer;
    bool delivered; // the server answered 2xx, so the events are gone
};
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

QStringList idsOf(const QList<AppAnalyticsEvent>& events) {
    QStringList ids;
    for (const AppAnalyticsEvent& event : events)
        ids.append(event.id);
    return ids;
}

class HostileServer : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override { test::clearCapturedLog(); }

    std::unique_ptr<AppAnalytics> start() {
        AnalyticsOptions options;
        options.queuePath = queuePath_;
        options.bundleInfo = {{kApiBaseUrlKey, server_.baseUrl().toString()},
                              {kShortVersionKey, "1.2.3"},
                              {kBuildVersionKey, "45"}};
        options.makeSettings = [path = dir_.filePath("settings.ini")] {
            return std::make_unique<QSettings>(path, QSettings::IniFormat);
        };
        // Retries far apart: one request is what is looked at.
        options.timing = {50ms, 60ms, 10s, 10s, 1000ms};
        return std::make_unique<AppAnalytics>(options);
    }

    QTemporaryDir dir_;
    QString queuePath_ = dir_.filePath("analytics-events.json");
    test::HostileHttpServer server_{GetParam().answer};
};

TEST_P(HostileServer, TakesOnlyTheStatusKeepsUndeliveredEventsAndNeverBlocks) {
    test::TestHttpServer elsewhere; // where a redirect points
    server_.redirectTo = elsewhere.baseUrl();
    auto analytics = start();
    for (int i = 0; i < 3; ++i)
        analytics->track("mac_app_export_started");
    const QStringList tracked = idsOf(analytics->queuedEvents());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.requests == 1; }, 10000));

    // With the upload in flight, events are still taken at once.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20; ++i)
        analytics->track("mac_app_speed_changed");
    EXPECT_EQ(analytics->queuedEvents().size(), 23);
    EXPECT_LT(clock.elapsed(), 2000);

    // Settled, one way or the other, well within the time-out, with the
    // connection dropped and little sent: the client read no body.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return analytics->queuedEvents().size() == 20 ||
                   !test::logTimes("Analytics upload deferred: ").isEmpty();
        },
        5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server_.openConnections == 0; }, 5000));
    EXPECT_LT(server_.bytesSent, qint64(64) << 20);

    const QStringList queued = idsOf(analytics->queuedEvents());
    if (GetParam().delivered) {
        for (const QString& id : tracked)
            EXPECT_FALSE(queued.contains(id));
    } else {
        EXPECT_EQ(queued.mid(0, 3), tracked);
        EXPECT_EQ(idsOf(QueueFile(queuePath_).load()), queued);
    }
    EXPECT_TRUE(elsewhere.requests.isEmpty()) << "followed a redirect";
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
} // namespace kavlo
