// AppAnalytics against a real HTTP server on 127.0.0.1: batching, back-off,
// trimming, the session events and the queue file as the client keeps it.
#include "client_fixture.h"

using namespace kavlo;
using namespace kavlo::test;

namespace {

constexpr qint64 kThirtyDays = 30 * 24 * 3600;

class AnalyticsClient : public AnalyticsClientTest {
  protected:
    QList<AppAnalyticsEvent> seed(const QList<qint64>& agesSeconds) {
        QList<AppAnalyticsEvent> events;
        for (qint64 age : agesSeconds)
            events.append({newUuidText(), "seeded", now().addSecs(-age), {}});
        EXPECT_EQ(QueueFile(queuePath).save(events), std::nullopt);
        return events;
    }
    QString installationId() const {
        return QSettings(settingsPath(), QSettings::IniFormat).value(kInstallationIdKey).toString();
    }
    QStringList sentIds() const {
        QStringList sent;
        for (const ReceivedRequest& request : server.requests)
            sent += idsOf(eventsOf(request));
        return sent;
    }
};

TEST_F(AnalyticsClient, EventsWithinTheDebounceGoOutInOneRequest) {
    auto analytics = start();
    for (int i = 0; i < 10; ++i)
        analytics->track("mac_app_speed_changed", {{"speed", QString::number(i)}});
    ASSERT_TRUE(flushes.fire());
    ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    EXPECT_EQ(flushes.delays(), QList<qint64>{timing.debounce.count()});
    ASSERT_EQ(server.requests.size(), 1);

    const ReceivedRequest& request = server.requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/api/mac/analytics");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    EXPECT_EQ(request.headers.value("x-kavlo-client"), "kavlo-mac");
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(request.body, QJsonDocument(body).toJson(QJsonDocument::Compact));
    EXPECT_EQ(body.keys(), QStringList({"appBuild", "appVersion", "events", "installationId",
                                        "osVersion", "sessionId"}));
    EXPECT_EQ(body["appVersion"], "1.2.3");
    EXPECT_EQ(body["appBuild"], "45");
    EXPECT_EQ(installationId().size(), 36);
    EXPECT_EQ(body["installationId"], installationId());
    EXPECT_EQ(body["sessionId"].toString().size(), 36);
    EXPECT_NE(body["sessionId"], installationId());

    const QList<AppAnalyticsEvent> sent = eventsOf(request);
    ASSERT_EQ(sent.size(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(sent[i].properties.value("speed"), QString::number(i));
    EXPECT_EQ(sent[0].timestamp, now());
    EXPECT_TRUE(QueueFile(queuePath).load().isEmpty());
}

TEST_F(AnalyticsClient, SixtyEventsGoOutAsTwentyFiveTwentyFiveAndTenOldestFirst) {
    QList<qint64> ages;
    for (int i = 59; i > 0; --i)
        ages.append(i);
    const QStringList seeded = idsOf(seed(ages));
    auto analytics = start();
    analytics->track("mac_app_session_started");
    for (int batch = 0; batch < 3; ++batch)
        ASSERT_TRUE(flushes.fire()) << "batch " << batch;
    ASSERT_TRUE(waitFor([&] { return QueueFile(queuePath).load().isEmpty(); }));
    ASSERT_EQ(server.requests.size(), 3);
    EXPECT_EQ(eventsOf(server.requests[0]).size(), 25);
    EXPECT_EQ(eventsOf(server.requests[1]).size(), 25);
    EXPECT_EQ(sentIds().size(), 60);
    EXPECT_EQ(sentIds().mid(0, 59), seeded);
    const qint64 pause = timing.batchPause.count();
    EXPECT_EQ(flushes.delays(), QList<qint64>({timing.debounce.count(), pause, pause}));
}

TEST_F(AnalyticsClient, EventsTrackedDuringAnUploadAreSentExactlyOnce) {
    server.statuses = {0};
    auto analytics = start();
    for (int i = 0; i < 5; ++i)
        analytics->track("mac_app_trim_changed");
    ASSERT_TRUE(flushes.fire());
    ASSERT_TRUE(waitFor([&] { return server.requests.size() == 1; }));
    for (int i = 0; i < 5; ++i)
        analytics->track("mac_app_speed_changed");
    analytics->queuedEvents(); // the tracks have run
    EXPECT_EQ(flushes.delays().size(), 1) << "a flush scheduled while a request is in flight";
    server.answerHeld(200);
    ASSERT_TRUE(flushes.fire());
    ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    const QStringList sent = sentIds();
    EXPECT_EQ(sent.size(), 10);
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()).size(), 10);
}

enum class Failure { ServerError, Refused, NoAnswer };

class AnalyticsFailure : public AnalyticsClient, public ::testing::WithParamInterface<Failure> {};

TEST_P(AnalyticsFailure, KeepsEveryEventAndRetriesAfterDoublingDelays) {
    if (GetParam() == Failure::ServerError) {
        server.statuses = {500, 500, 500}; // then 204
    } else if (GetParam() == Failure::Refused) {
        QTcpServer closed; // closed again before the client connects
        closed.listen(QHostAddress::LocalHost);
        info[kApiBaseUrlKey] = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    } else {
        server.defaultStatus = 0;
        timing.requestTimeout = 100ms;
    }
    auto analytics = start();
    for (int i = 0; i < 3; ++i)
        analytics->track("mac_app_export_started");
    const QStringList tracked = idsOf(analytics->queuedEvents());
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_TRUE(flushes.fire()) << "attempt " << attempt;
        ASSERT_TRUE(waitFor([&] { return logCount(kDeferred) == attempt + 1; }));
    }
    EXPECT_EQ(idsOf(QueueFile(queuePath).load()), tracked);
    const qint64 first = timing.firstRetry.count();
    EXPECT_EQ(flushes.delays(),
              QList<qint64>({timing.debounce.count(), first, 2 * first, 4 * first}));
    for (const QString& line : capturedLog())
        EXPECT_GT(line.size(), kDeferred.size()) << "says why: " << line.toStdString();

    if (GetParam() == Failure::ServerError) {
        ASSERT_TRUE(flushes.fire());
        ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
        ASSERT_EQ(server.requests.size(), 4);
        for (const ReceivedRequest& request : server.requests)
            EXPECT_EQ(idsOf(eventsOf(request)), tracked);
    } else {
        EXPECT_EQ(idsOf(analytics->queuedEvents()), tracked);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Analytics, AnalyticsFailure,
    ::testing::Values(Failure::ServerError, Failure::Refused, Failure::NoAnswer),
    [](const auto& info) {
        return std::string(std::array{"ServerError", "Refused", "NoAnswer"}[int(info.param)]);
    });

TEST_F(AnalyticsClient, RetryDelayIsCappedAndResetByASuccess) {
    timing.firstRetry = 40ms;
    timing.maxRetry = 320ms;
    server.statuses = {500, 500, 500, 500, 500};
    auto analytics = start();
    auto failThenSucceed = [&](int requests) {
        analytics->track("mac_app_export_failed");
        for (int request = 0; request < requests; ++request) {
            ASSERT_TRUE(flushes.fire()) << "request " << request;
            ASSERT_TRUE(waitFor([&] { return server.requests.size() == 1; }));
            server.requests.clear();
        }
        ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    };
    failThenSucceed(6);
    const qint64 debounce = timing.debounce.count();
    EXPECT_EQ(flushes.delays(), QList<qint64>({debounce, 40, 80, 160, 320, 320}));
    server.statuses = {500};
    failThenSucceed(2);
    EXPECT_EQ(flushes.delays().mid(6), QList<qint64>({debounce, 40})) << "reset by the success";
}

// One bundle entry made unusable (removed when the value is undefined).
TEST_F(AnalyticsClient, UnconfiguredEventsAreKeptAndNothingIsSent) {
    const QJsonObject configured = info;
    const std::tuple<const char*, QJsonValue, const char*> cases[] = {
        {kApiBaseUrlKey, "file:///tmp/upload", "Analytics endpoint is not configured."},
        {kBuildVersionKey, QJsonValue::Undefined, "App version metadata is not configured."}};
    for (const auto& [key, value, log] : cases) {
        SCOPED_TRACE(key);
        info = configured;
        if (value.isUndefined())
            info.remove(key);
        else
            info[key] = value;
        queuePath = dir.filePath(QString(key) + ".json");
        flushes = {};
        auto analytics = start();
        analytics->track("mac_app_video_picker_opened");
        ASSERT_TRUE(flushes.fire());
        ASSERT_TRUE(waitFor([&] { return logCount(log) > 0; }));
        QTest::qWait(100);
        EXPECT_TRUE(server.requests.isEmpty());
        EXPECT_EQ(QueueFile(queuePath).load().size(), 1);
        EXPECT_EQ(logCount(kDeferred), 0);
    }
}

TEST_F(AnalyticsClient, QueueIsTrimmedByCountAndByAgeAtTrack) {
    info.remove(kApiBaseUrlKey);
    QList<qint64> ages(2000, 60);
    ages[0] = kThirtyDays + 1;
    ages[1] = kThirtyDays;
    const QList<AppAnalyticsEvent> seeded = seed(ages);
    auto analytics = start();
    EXPECT_EQ(analytics->queuedEvents(), seeded) << "loading drops nothing";

    analytics->track("mac_app_session_started");
    const QList<AppAnalyticsEvent> queued = analytics->queuedEvents();
    ASSERT_EQ(queued.size(), 2000);
    EXPECT_EQ(queued.first().id, seeded[1].id) << "an event exactly 30 days old stays";
    EXPECT_EQ(queued.last().name, "mac_app_session_started");
    EXPECT_EQ(QueueFile(queuePath).load(), queued);

    analytics->track("mac_app_session_started");
    EXPECT_EQ(analytics->queuedEvents().first().id, seeded[2].id) << "the 2001st drops the oldest";
}

TEST_F(AnalyticsClient, PropertyValuesAreCutToHundredWholeCharacters) {
    info.remove(kApiBaseUrlKey);
    const QString longKey(150, u'k');
    const QString thumb = QString::fromUtf8("👍🏽"),
                  family = QString::fromUtf8("👨‍👩‍👧"),
                  accented = QString::fromUtf8("e\u0301");
    auto analytics = start();
    analytics->track("mac_app_speed_changed", {{"plain", QString(150, u'a')},
                                               {longKey, "v"},
                                               {"thumbs", thumb.repeated(101)},
                                               {"families", family.repeated(100)},
                                               {"accents", accented.repeated(120)}});
    EXPECT_EQ(analytics->queuedEvents().value(0).properties,
              (AnalyticsProperties{{"plain", QString(100, u'a')},
                                   {longKey, "v"},
                                   {"thumbs", thumb.repeated(100)},
                                   {"families", family.repeated(100)},
                                   {"accents", accented.repeated(100)}}));
}

TEST_F(AnalyticsClient, FirstOpenOncePerAccountSessionStartOncePerProcess) {
    info.remove(kApiBaseUrlKey);
    QStringList names;
    QString firstId;
    for (int run = 0; run < 2; ++run) {
        auto analytics = start();
        analytics->startSession();
        analytics->startSession();
        names = idsOf(analytics->queuedEvents(), &AppAnalyticsEvent::name);
        if (run == 0)
            firstId = installationId();
        EXPECT_EQ(installationId(), firstId);
    }
    EXPECT_EQ(names, QStringList({"mac_app_first_open", "mac_app_session_started",
                                  "mac_app_session_started"}));
}

TEST_F(AnalyticsClient, CorruptQueueFileStartsEmptyAndIsReplacedAtTheNextSave) {
    info.remove(kApiBaseUrlKey);
    seed({10, 5});
    QFile file(queuePath);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bad = file.readAll().replace("Z\"}", ".5Z\"}");
    file.seek(0);
    file.write(bad);
    file.close();
    auto analytics = start();
    EXPECT_TRUE(analytics->queuedEvents().isEmpty());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bad) << "left alone until the next save";
    file.close();
    analytics->track("mac_app_session_started");
    analytics->queuedEvents();
    EXPECT_EQ(idsOf(QueueFile(queuePath).load(), &AppAnalyticsEvent::name),
              QStringList{"mac_app_session_started"});
}

TEST_F(AnalyticsClient, FailedSaveIsLoggedAndTheQueueStillUploads) {
    ASSERT_TRUE(QFile(dir.filePath("blocker")).open(QIODevice::WriteOnly)); // a file, not a folder
    queuePath = dir.filePath("blocker/analytics-events.json");
    manualFlush = false; // and the application's own timer uploads
    auto analytics = start();
    analytics->track("mac_app_session_started");
    ASSERT_TRUE(waitFor([&] { return server.requests.size() == 1; }));
    EXPECT_EQ(eventsOf(server.requests[0]).value(0).name, "mac_app_session_started");
    ASSERT_FALSE(capturedLog().isEmpty());
    EXPECT_TRUE(capturedLog()[0].startsWith("Unable to persist analytics queue: "))
        << capturedLog()[0].toStdString();
}

TEST(AnalyticsConfiguration, EndpointJoinsOneSlashAndOnlyTheEnvironmentOverrides) {
    auto endpoint = [](const QString& base) {
        return analyticsEndpoint({{kApiBaseUrlKey, base}}).value_or(QUrl()).toString();
    };
    EXPECT_EQ(endpoint(" https://kavlo.app/\n"), "https://kavlo.app/api/mac/analytics");
    EXPECT_EQ(endpoint("http://127.0.0.1:8080/staging//"),
              "http://127.0.0.1:8080/staging/api/mac/analytics");
    for (const char* unusable : {" \n\t", "/relative/path", "file:///tmp/upload"})
        EXPECT_FALSE(analyticsEndpoint({{kApiBaseUrlKey, unusable}})) << unusable;
    EXPECT_FALSE(analyticsEndpoint({{kApiBaseUrlKey, 42}}));
    EXPECT_FALSE(analyticsEndpoint({}));

    qunsetenv(kApiBaseUrlEnvironment);
    const QJsonObject bundled = bundleInfo(); // without versions nothing would be sent
    EXPECT_EQ(bundled.value(kApiBaseUrlKey), "https://kavlo.app");
    EXPECT_TRUE(bundled.value(kShortVersionKey).isString());
    EXPECT_TRUE(bundled.value(kBuildVersionKey).isString());
    qputenv(kApiBaseUrlEnvironment, "http://127.0.0.1:9");
    EXPECT_EQ(bundleInfo().value(kApiBaseUrlKey), "http://127.0.0.1:9");
    qunsetenv(kApiBaseUrlEnvironment);
}

} // namespace
