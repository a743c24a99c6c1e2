#include "analytics/app_analytics.h"

#include "analytics/analytics_client.h"

#include <QCoreApplication>

#include <mutex>

namespace kavlo {

Q_LOGGING_CATEGORY(lcAnalytics, "com.tarsel.kavlo.analytics", QtInfoMsg)

namespace {

std::mutex sharedMutex;
AppAnalytics* sharedInstance = nullptr;

void destroyShared() {
    std::lock_guard lock(sharedMutex);
    delete sharedInstance;
    sharedInstance = nullptr;
}

} // namespace

std::unique_ptr<QSettings> defaultSettings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Kavlo"), QStringLiteral("Kavlo"));
}

AppAnalytics& AppAnalytics::shared() {
    std::lock_guard lock(sharedMutex);
    if (!sharedInstance) {
        sharedInstance = new AppAnalytics();
        // The thread must stop before Qt itself is torn down.
        qAddPostRoutine(destroyShared);
    }
    return *sharedInstance;
}

AppAnalytics::AppAnalytics(AnalyticsOptions options)
    : client_(std::make_unique<ObjectThread<AnalyticsClient>>(
          QStringLiteral("Analytics"), std::make_unique<AnalyticsClient>(std::move(options)),
          [](const std::exception& failure) { AnalyticsClient::logFailure(failure); })) {
    client_->post([](AnalyticsClient& client) { client.start(); });
}

// The client goes after everything posted so far has run.
AppAnalytics::~AppAnalytics() = default;

void AppAnalytics::track(const QString& name, const AnalyticsProperties& properties) {
    client_->post([name, properties](AnalyticsClient& client) { client.track(name, properties); });
}

void AppAnalytics::startSession() {
    client_->post([](AnalyticsClient& client) { client.startSession(); });
}

QList<AppAnalyticsEvent> AppAnalytics::queuedEvents() const {
    return client_->call([](AnalyticsClient& client) { return client.queue(); });
}

} // namespace kavlo
