// The upload client against an HTTP server on 127.0.0.1, with its clock, its
// settings and (by default) its flush timer in the test's hand.
#pragma once

#include "analytics/app_analytics.h"
#include "analytics/bundle_info.h"
#include "analytics/queue_file.h"
#include "support/test_http_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace kavlo::test {

using namespace std::chrono_literals;

// The analytics log lines of this process (captured by test_main.cpp).
QStringList capturedLog();
void clearCapturedLog();
inline qsizetype logCount(const QString& prefix) {
    const QStringList log = capturedLog();
    return std::count_if(log.begin(), log.end(),
                         [&](auto& line) { return line.startsWith(prefix); });
}
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

} // namespace kavlo::test
