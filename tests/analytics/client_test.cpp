// AppAnalytics against a real HTTP server on 127.0.0.1, with its flush
// timer in the test's hand: batching, back-off, trimming, the session events
// and the queue file as the client keeps it.
#include "analytics/app_analytics.h"
#include "analytics/bundle_info.h"
#include "analytics/queue_file.h"
#include "log_capture.h"
#include "support/test_http_server.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

using namespace kavlo;
using namespace kavlo::test;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kThirtyDays = 30 * 24 * 3600;
const QString kDeferred = "Analytics upload deferred: ";

QList<AppAnalyticsEvent> eventsOf(const ReceivedRequest& request) {
    const QJsonArray array =
        QJsonDocument::fromJson(request.body).object().value("events").toArray();
    return decodeEvents(QJsonDocument(array).toJson()).value_or(QList<AppAnalyticsEvent>{});
}

QStringList idsOf(const QList<AppAnalyticsEvent>& events) {
    QStringList ids;
    for (const AppAnalyticsEvent& event : events)
        ids.append(event.id);
    return ids;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// The client's flush timer in the test's hand: it records every delay the
// client asks for and fires only when the test says so, so the schedule is
// checked exactly and no test waits for a real delay to pass.
class ManualFlushTimers {
  public:
    MakeFlushTimer factory() const {
        return [state = state_](std::function<void()> fire) -> std::unique_ptr<FlushTimer> {
            return std::make_unique<Timer>(state, std::move(fire));
        };
    }

    // Every delay asked for, in milliseconds, in order.
    QList<qint64> delays() const {
        std::lock_guard lock(state_->mutex);
        return state_->delays;
    }

    // Waits until the client has started a flush not fired yet, then fires
    // it on the analytics thread, after everything posted there before.
    bool fire() {
        const bool started = waitFor([&] {
            std::lock_guard lock(state_->mutex);
            return state_->delays.size() > state_->fired;
        });
        if (!started)
            return false;
        std::lock_guard lock(state_->mutex);
        ++state_->fired;
        QMetaObject::invokeMethod(
            state_->context,
            [state = state_] {
                std::function<void()> fire;
                {
                    std::lock_guard lock(state->mutex);
                    state->pending = false;
                    fire = state->fire;
                }
                fire();
            },
            Qt::QueuedConnection);
        return true;
    }

  private:
    struct State {
        std::mutex mutex;
        QList<qint64> delays;
        qsizetype fired = 0;
        bool pending = false;
        std::function<void()> fire;
        QObject* context = nullptr; // on the analytics thread, while the client lives
    };

    class Timer : public FlushTimer {
      public:
        Timer(std::shared_ptr<State> state, std::function<void()> fire) : state_(std::move(state)) {
            std::lock_guard lock(state_->mutex);
            state_->fire = std::move(fire);
            state_->context = &context_;
        }
        ~Timer() override {
            std::lock_guard lock(state_->mutex);
            state_->context = nullptr;
        }
        void start(std::chrono::milliseconds delay) override {
            std::lock_guard lock(state_->mutex);
            state_->delays.append(delay.count());
            state_->pending = true;
        }
        bool pending() const override {
            std::lock_guard lock(state_->mutex);
            return state_->pending;
        }

      private:
        std::shared_ptr<State> state_;
        QObject context_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace

class AnalyticsClientTest : public ::testing::Test {
  protected:
    void SetUp() override { clearCapturedLog(); }

    std::unique_ptr<AppAnalytics> start() {
        AnalyticsOptions options;
        options.queuePath = queuePath;
        options.bundleInfo = info;
        options.makeSettings = [path = settingsPath()] {
            return std::make_unique<QSettings>(path, QSettings::IniFormat);
        };
        options.now = [clock = clockMs] { return QDateTime::fromMSecsSinceEpoch(*clock, Qt::UTC); };
        if (manualFlush)
            options.makeFlushTimer = flushes.factory();
        options.timing = timing;
        return std::make_unique<AppAnalytics>(options);
    }

    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(*clockMs, Qt::UTC); }
    QString settingsPath() const { return dir.filePath("settings.ini"); }

    // Writes a queue file of events as old as given, in that order.
    QList<AppAnalyticsEvent> seed(const QList<qint64>& agesSeconds) {
        QList<AppAnalyticsEvent> events;
        for (qint64 age : agesSeconds)
            events.append({newUuidText(), "seeded", now().addSecs(-age), {}});
        EXPECT_EQ(QueueFile(queuePath).save(events), std::nullopt);
        return events;
    }

    QTemporaryDir dir;
    QString queuePath = dir.filePath("Kavlo/analytics-events.json");
    TestHttpServer server;
    std::shared_ptr<std::atomic<qint64>> clockMs = std::make_shared<std::atomic<qint64>>(
        QDateTime::fromString("2025-03-01T12:00:00Z", Qt::ISODate).toMSecsSinceEpoch());
    AnalyticsTiming timing{50ms, 60ms, 80ms, 10s, 2s};
    ManualFlushTimers flushes;
    bool manualFlush = true; // false: the application's own timer
    QJsonObject info{{kApiBaseUrlKey, server.baseUrl().toString() + "/v1/"},
                     {kShortVersionKey, "1.2.3"},
                     {kBuildVersionKey, "45"}};
};

TEST_F(AnalyticsClientTest, EventsWithinTheDebounceGoOutInOneRequest) {
    auto analytics = start();
    for (int i = 0; i < 10; ++i)
        analytics->track("mac_app_speed_changed", {{"speed", QString::number(i)}});
    ASSERT_TRUE(flushes.fire());
    ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    EXPECT_EQ(flushes.delays(), QList<qint64>{timing.debounce.count()})
        << "one flush, a debounce after the first event";
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
    const QString installationId =
        QSettings(settingsPath(), QSettings::IniFormat).value(kInstallationIdKey).toString();
    EXPECT_EQ(installationId.size(), 36);
    EXPECT_EQ(body["installationId"], installationId);
    EXPECT_EQ(body["sessionId"].toString().size(), 36);
    EXPECT_NE(body["sessionId"], installationId);

    const QList<AppAnalyticsEvent> sent = eventsOf(request);
    ASSERT_EQ(sent.size(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(sent[i].properties.value("speed"), QString::number(i));
    EXPECT_EQ(sent[0].timestamp, now());
    EXPECT_TRUE(QueueFile(queuePath).load().isEmpty());
}

TEST_F(AnalyticsClientTest, SixtyEventsGoOutAsTwentyFiveTwentyFiveAndTenOldestFirst) {
    QList<qint64> ages;
    for (int i = 59; i > 0; --i)
        ages.append(i);
    const QStringList seeded = idsOf(seed(ages));
    auto analytics = start();
    analytics->track("mac_app_session_started");
    for (int batch = 0; batch < 3; ++batch)
        ASSERT_TRUE(flushes.fire()) << "batch " << batch;
    ASSERT_TRUE(waitFor([&] { return server.requests.size() == 3; }));
    ASSERT_TRUE(waitFor([&] { return QueueFile(queuePath).load().isEmpty(); }));

    QStringList sent;
    for (const ReceivedRequest& request : server.requests)
        sent += idsOf(eventsOf(request));
    EXPECT_EQ(eventsOf(server.requests[0]).size(), 25);
    EXPECT_EQ(eventsOf(server.requests[1]).size(), 25);
    EXPECT_EQ(sent.size(), 60);
    EXPECT_EQ(sent.mid(0, 59), seeded);
    const qint64 pause = timing.batchPause.count();
    EXPECT_EQ(flushes.delays(), QList<qint64>({timing.debounce.count(), pause, pause}));
}

TEST_F(AnalyticsClientTest, EventsTrackedDuringAnUploadAreSentExactlyOnce) {
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

    QStringList sent;
    for (const ReceivedRequest& request : server.requests)
        sent += idsOf(eventsOf(request));
    EXPECT_EQ(sent.size(), 10);
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()).size(), 10);
}

enum class Failure { serverError, refused, noAnswer };

std::string failureName(Failure failure) {
    static const char* const names[] = {"ServerError", "Refused", "NoAnswer"};
    return names[static_cast<int>(failure)];
}

class AnalyticsFailureTest : public AnalyticsClientTest,
                             public ::testing::WithParamInterface<Failure> {};

TEST_P(AnalyticsFailureTest, KeepsEveryEventAndRetriesAfterDoublingDelays) {
    if (GetParam() == Failure::serverError) {
        server.statuses = {500, 500, 500}; // then 204
    } else if (GetParam() == Failure::refused) {
        QTcpServer closed;
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
        ASSERT_TRUE(waitFor([&] { return logTimes(kDeferred).size() == attempt + 1; }));
    }
    EXPECT_EQ(idsOf(QueueFile(queuePath).load()), tracked);
    const qint64 first = timing.firstRetry.count();
    EXPECT_EQ(flushes.delays(),
              QList<qint64>({timing.debounce.count(), first, 2 * first, 4 * first}));
    for (const LogLine& line : capturedLog())
        EXPECT_GT(line.text.size(), kDeferred.size()) << line.text.toStdString();

    if (GetParam() == Failure::serverError) {
        ASSERT_TRUE(flushes.fire());
        ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
        ASSERT_EQ(server.requests.size(), 4);
        for (const ReceivedRequest& request : server.requests)
            EXPECT_EQ(idsOf(eventsOf(request)), tracked);
    } else {
        EXPECT_EQ(idsOf(analytics->queuedEvents()), tracked);
    }
}

INSTANTIATE_TEST_SUITE_P(Analytics, AnalyticsFailureTest,
                         ::testing::Values(Failure::serverError, Failure::refused,
                                           Failure::noAnswer),
                         [](const auto& info) { return failureName(info.param); });

TEST_F(AnalyticsClientTest, RetryDelayIsCappedAndResetByASuccess) {
    timing.firstRetry = 40ms;
    timing.maxRetry = 320ms;
    server.statuses = {500, 500, 500, 500, 500};
    auto analytics = start();
    analytics->track("mac_app_export_failed");
    for (int request = 0; request < 6; ++request) {
        ASSERT_TRUE(flushes.fire()) << "request " << request;
        ASSERT_TRUE(waitFor([&] { return server.requests.size() == request + 1; }));
    }
    ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    const qint64 debounce = timing.debounce.count();
    EXPECT_EQ(flushes.delays(), QList<qint64>({debounce, 40, 80, 160, 320, 320}))
        << "doubling from the first delay up to the cap";

    server.statuses = {500};
    analytics->track("mac_app_export_failed");
    for (int request = 6; request < 8; ++request) {
        ASSERT_TRUE(flushes.fire()) << "request " << request;
        ASSERT_TRUE(waitFor([&] { return server.requests.size() == request + 1; }));
    }
    ASSERT_TRUE(waitFor([&] { return analytics->queuedEvents().isEmpty(); }));
    EXPECT_EQ(flushes.delays().mid(6), QList<qint64>({debounce, 40})) << "reset by the success";
}

// One bundle entry made unusable (removed when the value is undefined), and
// what the client logs about it.
struct Unconfigured {
    const char* name;
    const char* key;
    QJsonValue value;
    const char* log = "Analytics endpoint is not configured.";
};
void PrintTo(const Unconfigured& c, std::ostream* out) {
    *out << c.name;
}

class AnalyticsUnconfiguredTest : public AnalyticsClientTest,
                                  public ::testing::WithParamInterface<Unconfigured> {};

TEST_P(AnalyticsUnconfiguredTest, EventsAreKeptAndNothingIsSent) {
    if (GetParam().value.isUndefined())
        info.remove(GetParam().key);
    else
        info[GetParam().key] = GetParam().value;
    auto analytics = start();
    analytics->track("mac_app_video_picker_opened");
    ASSERT_TRUE(flushes.fire());
    ASSERT_TRUE(waitFor([] { return !logTimes(GetParam().log).isEmpty(); }));
    QTest::qWait(100);
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_EQ(QueueFile(queuePath).load().size(), 1);
    EXPECT_TRUE(logTimes(kDeferred).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Analytics, AnalyticsUnconfiguredTest,
    ::testing::Values(Unconfigured{"Missing", kApiBaseUrlKey, QJsonValue::Undefined},
                      Unconfigured{"Blank", kApiBaseUrlKey, " \n\t"},
                      Unconfigured{"NotText", kApiBaseUrlKey, 42},
                      Unconfigured{"Relative", kApiBaseUrlKey, "/relative/path"},
                      Unconfigured{"File", kApiBaseUrlKey, "file:///tmp/upload"},
                      Unconfigured{"NoBuildVersion", kBuildVersionKey, QJsonValue::Undefined,
                                   "App version metadata is not configured."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AnalyticsClientTest, QueueIsTrimmedByCountAndByAgeAtTrack) {
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

TEST_F(AnalyticsClientTest, PropertyValuesAreCutToHundredWholeCharacters) {
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
    const AnalyticsProperties stored = analytics->queuedEvents().value(0).properties;
    EXPECT_EQ(stored.value("plain"), QString(100, u'a'));
    EXPECT_EQ(stored.value(longKey), "v");
    EXPECT_EQ(stored.value("thumbs"), thumb.repeated(100));
    EXPECT_EQ(stored.value("families"), family.repeated(100));
    EXPECT_EQ(stored.value("accents"), accented.repeated(100));
}

TEST_F(AnalyticsClientTest, FirstOpenOncePerAccountSessionStartOncePerProcess) {
    info.remove(kApiBaseUrlKey);
    QStringList names;
    QString installationId;
    for (int run = 0; run < 2; ++run) {
        auto analytics = start();
        analytics->startSession();
        analytics->startSession();
        names.clear();
        for (const AppAnalyticsEvent& event : analytics->queuedEvents())
            names.append(event.name);
        const QString id =
            QSettings(settingsPath(), QSettings::IniFormat).value(kInstallationIdKey).toString();
        if (run == 0)
            installationId = id;
        EXPECT_EQ(id, installationId);
    }
    EXPECT_EQ(names, QStringList({"mac_app_first_open", "mac_app_session_started",
                                  "mac_app_session_started"}));
}

TEST_F(AnalyticsClientTest, CorruptQueueFileStartsEmptyAndIsReplacedAtTheNextSave) {
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
    const QList<AppAnalyticsEvent> stored = QueueFile(queuePath).load();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].name, "mac_app_session_started");
}

TEST_F(AnalyticsClientTest, FailedSaveIsLoggedAndTheQueueStillUploads) {
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    queuePath = dir.filePath("blocker/analytics-events.json");
    manualFlush = false; // and the application's own timer uploads
    auto analytics = start();
    analytics->track("mac_app_session_started");
    ASSERT_TRUE(waitFor([&] { return server.requests.size() == 1; }));
    EXPECT_EQ(eventsOf(server.requests[0]).value(0).name, "mac_app_session_started");
    const QList<LogLine> log = capturedLog();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log[0].text.startsWith("Unable to persist analytics queue: "))
        << log[0].text.toStdString();
}

TEST(AnalyticsConfiguration, EndpointJoinsOneSlashAndOnlyTheEnvironmentOverrides) {
    auto endpoint = [](const QString& base) {
        return analyticsEndpoint({{kApiBaseUrlKey, base}}).value_or(QUrl()).toString();
    };
    EXPECT_EQ(endpoint("https://kavlo.app"), "https://kavlo.app/api/mac/analytics");
    EXPECT_EQ(endpoint(" https://kavlo.app/\n"), "https://kavlo.app/api/mac/analytics");
    EXPECT_EQ(endpoint("http://127.0.0.1:8080/staging//"),
              "http://127.0.0.1:8080/staging/api/mac/analytics");

    qunsetenv(kApiBaseUrlEnvironment);
    const QJsonObject bundled = bundleInfo(); // without versions nothing would be sent
    EXPECT_EQ(bundled.value(kApiBaseUrlKey), "https://kavlo.app");
    EXPECT_TRUE(bundled.value(kShortVersionKey).isString());
    EXPECT_TRUE(bundled.value(kBuildVersionKey).isString());
    qputenv(kApiBaseUrlEnvironment, "http://127.0.0.1:9");
    EXPECT_EQ(bundleInfo().value(kApiBaseUrlKey), "http://127.0.0.1:9");
    qunsetenv(kApiBaseUrlEnvironment);
}

// The process-wide instance, in Qt's test locations and with uploads off;
// it is shut down with the application at the end of the run.
TEST(AnalyticsShared, OneInstanceQueuesInTheUserDataDirectory) {
    QStandardPaths::setTestModeEnabled(true);
    qputenv(kApiBaseUrlEnvironment, "");
    AppAnalytics& analytics = AppAnalytics::shared();
    qunsetenv(kApiBaseUrlEnvironment);
    EXPECT_EQ(&AppAnalytics::shared(), &analytics);
    analytics.track("mac_app_update_dismissed");
    EXPECT_EQ(analytics.queuedEvents().value(0).name, "mac_app_update_dismissed");
    const QString path = QueueFile::defaultPath();
    EXPECT_TRUE(path.contains("qttest")) << path.toStdString();
    EXPECT_EQ(QueueFile(path).load().value(0).name, "mac_app_update_dismissed");
    const QString settings = defaultSettings()->fileName();
    for (const QString& file : {path, settings}) {
        QFile::remove(file);
        QDir().rmdir(QFileInfo(file).absolutePath());
    }
}
