#include "analytics/app_analytics.h"

#include "analytics/analytics_client.h"

#include <QCoreApplication>
#include <QThread>

#include <mutex>

namespace kavlo {

Q_LOGGING_CATEGORY(lcAnalytics, "Analytics", QtInfoMsg)

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
    : thread_(std::make_unique<QThread>()), client_(new AnalyticsClient(std::move(options))) {
    thread_->setObjectName(QStringLiteral("Analytics"));
    client_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        client_, [client = client_] { client->start(); }, Qt::QueuedConnection);
}

AppAnalytics::~AppAnalytics() {
    // Queued calls run in order, so everything posted so far is handled
    // before the client goes.
    QMetaObject::invokeMethod(
        client_, [client = client_] { delete client; }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void AppAnalytics::track(const QString& name, const AnalyticsProperties& properties) {
    QMetaObject::invokeMethod(
        client_, [client = client_, name, properties] { client->track(name, properties); },
        Qt::QueuedConnection);
}

void AppAnalytics::startSession() {
    QMetaObject::invokeMethod(
        client_, [client = client_] { client->startSession(); }, Qt::QueuedConnection);
}

QList<AppAnalyticsEvent> AppAnalytics::queuedEvents() const {
    QList<AppAnalyticsEvent> events;
    QMetaObject::invokeMethod(
        client_, [&events, client = client_] { events = client->queue(); },
        Qt::BlockingQueuedConnection);
    return events;
}

} // namespace kavlo
