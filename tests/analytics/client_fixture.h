// The upload client against an HTTP server on 127.0.0.1, with its clock, its
// settings and (by default) its flush timer in the test's hand.
#pragma once

#include "analytics/app_analytics.h"
#include "analytics/bundle_info.h"
#include "analytics/queue_file.h"
#include "support/test_http_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace kavlo::test {

using namespace std::chrono_literals;

inline const QString kDeferred = "Analytics upload deferred: ";

inline QStringList idsOf(const QList<AppAnalyticsEvent>& events,
                         QString AppAnalyticsEvent::*field = &AppAnalyticsEvent::id) {
    QStringList ids;
    for (const AppAnalyticsEvent& event : events)
        ids.append(event.*field);
    return ids;
}
inline QList<AppAnalyticsEvent> eventsOf(const ReceivedRequest& request) {
    const QJsonArray array =
        QJsonDocument::fromJson(request.body).object().value("events").toArray();
    return decodeEvents(QJsonDocument(array).toJson()).value_or(QList<AppAnalyticsEvent>{});
}
inline bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// Records every delay the client asks of its flush timer and fires only when
// the test says so: the schedule is checked exactly and no real delay passes.
class ManualFlushTimers {
  public:
    MakeFlushTimer factory() const {
        return [state = state_](std::function<void()> fire) -> std::unique_ptr<FlushTimer> {
            return std::make_unique<Timer>(state, std::move(fire));
        };
    }
    QList<qint64> delays() const {
        std::lock_guard lock(state_->mutex);
        return state_->delays;
    }
    // Waits for a flush the client started and has not had fired, then fires
    // it on the analytics thread after everything posted there before.
    bool fire() {
        if (!waitFor([&] {
                std::lock_guard lock(state_->mutex);
                return state_->delays.size() > state_->fired;
            }))
            return false;
        std::lock_guard lock(state_->mutex);
        ++state_->fired;
        QMetaObject::invokeMethod(state_->timer, [state = state_] {
            std::unique_lock lock(state->mutex);
            state->timer->pending_ = false;
            const std::function<void()> fire = state->timer->fire_;
            lock.unlock();
            fire();
        });
        return true;
    }

  private:
    struct Timer;
    struct State {
        std::mutex mutex;
        QList<qint64> delays;
        qsizetype fired = 0;
        Timer* timer = nullptr; // lives on the analytics thread with the client
    };
    struct Timer : QObject, FlushTimer {
        Timer(std::shared_ptr<State> state, std::function<void()> fire)
            : state_(std::move(state)), fire_(std::move(fire)) {
            std::lock_guard lock(state_->mutex);
            state_->timer = this;
        }
        ~Timer() override {
            std::lock_guard lock(state_->mutex);
            state_->timer = nullptr;
        }
        void start(std::chrono::milliseconds delay) override {
            std::lock_guard lock(state_->mutex);
            state_->delays.append(delay.count());
            pending_ = true;
        }
        bool pending() const override {
            std::lock_guard lock(state_->mutex);
            return pending_;
        }
        std::shared_ptr<State> state_;
        std::function<void()> fire_;
        bool pending_ = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class AnalyticsClientTest : public ::testing::Test {
  protected:
    // The client's log lines, debug lines (off by default) included, are
    // kept for the test to read.
    void SetUp() override {
        logLines.clear(); // no client runs yet
        QLoggingCategory::setFilterRules(QStringLiteral("com.tarsel.kavlo.analytics.debug=true"));
        previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (context.category &&
                    QByteArrayView(context.category) == "com.tarsel.kavlo.analytics") {
                    std::lock_guard lock(logMutex);
                    logLines.append(text);
                } else {
                    previousHandler(type, context, text);
                }
            });
    }
    void TearDown() override { qInstallMessageHandler(previousHandler); }
    static QStringList capturedLog() {
        std::lock_guard lock(logMutex);
        return logLines;
    }
    static qsizetype logCount(const QString& prefix) {
        const QStringList log = capturedLog();
        return std::count_if(log.begin(), log.end(),
                             [&](auto& line) { return line.startsWith(prefix); });
    }

    std::unique_ptr<AppAnalytics> start() {
        return std::make_unique<AppAnalytics>(
            AnalyticsOptions{.queuePath = queuePath,
                             .bundleInfo = info,
                             .makeSettings =
                                 [path = settingsPath()] {
                                     return std::make_unique<QSettings>(path, QSettings::IniFormat);
                                 },
                             .now = [this] { return now(); },
                             .makeFlushTimer = manualFlush ? flushes.factory() : MakeFlushTimer(),
                             .timing = timing});
    }
    QDateTime now() const { return QDateTime::fromMSecsSinceEpoch(*clockMs, Qt::UTC); }
    QString settingsPath() const { return dir.filePath("settings.ini"); }

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

  private:
    static inline std::mutex logMutex;
    static inline QStringList logLines;
    static inline QtMessageHandler previousHandler = nullptr;
};

} // namespace kavlo::test
