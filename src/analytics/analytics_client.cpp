#include "analytics/analytics_client.h"

#include "analytics/bundle_info.h"
#include "analytics/event_catalog.h"

#include <QSysInfo>
#include <QTimer>

namespace kavlo {

namespace {

constexpr qsizetype kMaxQueuedEvents = 2000;
constexpr qint64 kMaxEventAgeSeconds = 30 * 24 * 60 * 60;
constexpr qsizetype kMaxPropertyCharacters = 100;
constexpr qsizetype kEventsPerUpload = 25;

class QtFlushTimer : public FlushTimer {
  public:
    explicit QtFlushTimer(std::function<void()> fire) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, std::move(fire));
    }
    void start(std::chrono::milliseconds delay) override { timer_.start(delay); }
    bool pending() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
};

} // namespace

AnalyticsClient::AnalyticsClient(AnalyticsOptions options)
    : options_(std::move(options)),
      queueFile_(options_.queuePath.isEmpty() ? QueueFile::defaultPath() : options_.queuePath),
      sessionId_(newUuidText()), retryDelay_(options_.timing.firstRetry) {
    if (!options_.makeSettings)
        options_.makeSettings = defaultSettings;
    if (!options_.now)
        options_.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (options_.bundleInfo.isEmpty())
        options_.bundleInfo = bundleInfo();
}

AnalyticsClient::~AnalyticsClient() {
    // An abandoned upload must not call back into a half-destroyed object;
    // its events are still queued in the file for the next run.
    delete upload_;
}

void AnalyticsClient::start() {
    settings_ = options_.makeSettings();
    installationId_ = settings_->value(kInstallationIdKey).toString();
    if (installationId_.isEmpty()) {
        installationId_ = newUuidText();
        settings_->setValue(kInstallationIdKey, installationId_);
        settings_->sync();
    }
    queue_ = queueFile_.load();

    auto fire = [this] { runGuarded([this] { flush(); }, logFailure); };
    flushTimer_ = options_.makeFlushTimer ? options_.makeFlushTimer(fire)
                                          : std::make_unique<QtFlushTimer>(fire);
}

void AnalyticsClient::track(const QString& name, const AnalyticsProperties& properties) {
    const QDateTime now = options_.now();
    // Age is measured from now, so events loaded from an old file go here,
    // at the first event of a run, and not when the file is read.
    const QDateTime cutoff = now.addSecs(-kMaxEventAgeSeconds);
    queue_.removeIf([&](const AppAnalyticsEvent& event) { return event.timestamp < cutoff; });

    AppAnalyticsEvent event{newUuidText(), name, now, {}};
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        event.properties.insert(it.key(), leftCharacters(it.value(), kMaxPropertyCharacters));
    queue_.append(std::move(event));
    if (queue_.size() > kMaxQueuedEvents)
        queue_.remove(0, queue_.size() - kMaxQueuedEvents);

    persistQueue();
    scheduleFlush(options_.timing.debounce);
}

void AnalyticsClient::startSession() {
    if (hasStartedSession_)
        return;
    hasStartedSession_ = true;
    if (!settings_->value(kHasLaunchedKey, false).toBool()) {
        settings_->setValue(kHasLaunchedKey, true);
        settings_->sync();
        track(events::kFirstOpen, {});
    }
    track(events::kSessionStarted, {});
}

void AnalyticsClient::scheduleFlush(std::chrono::milliseconds delay) {
    // A pending flush keeps its timing; later events do not push it back.
    // While a request is in flight nothing is scheduled: its answer always
    // schedules the next flush, and a second request now could carry the
    // same events again.
    if (flushTimer_->pending() || upload_)
        return;
    flushTimer_->start(delay);
}

void AnalyticsClient::flush() {
    if (queue_.isEmpty() || upload_)
        return;
    const std::optional<QUrl> endpoint = analyticsEndpoint(options_.bundleInfo);
    if (!endpoint) {
        qCDebug(lcAnalytics, "Analytics endpoint is not configured.");
        return;
    }
    const QJsonValue version = options_.bundleInfo.value(kShortVersionKey);
    const QJsonValue build = options_.bundleInfo.value(kBuildVersionKey);
    if (!version.isString() || !build.isString()) {
        qCDebug(lcAnalytics, "App version metadata is not configured.");
        return;
    }

    const AppAnalyticsBatch batch{installationId_,
                                  sessionId_,
                                  version.toString(),
                                  build.toString(),
                                  QSysInfo::prettyProductName(),
                                  queue_.first(std::min(queue_.size(), kEventsPerUpload))};
    QSet<QString> sentIds;
    for (const AppAnalyticsEvent& event : batch.events)
        sentIds.insert(event.id);

    // Only the status of the answer is read; a redirect is an answer too
    // (a failure), never followed, so no other host receives the batch.
    upload_ = new UploadRequest(
        *endpoint, {{"Content-Type", "application/json"}, {"X-Kavlo-Client", "kavlo-mac"}},
        encodeBatch(batch), options_.timing.requestTimeout,
        [this, sentIds](int status, const QString& error) {
            upload_->deleteLater();
            upload_ = nullptr;
            runGuarded([&] { finishUpload(sentIds, status, error); }, logFailure);
        },
        this);
}

void AnalyticsClient::finishUpload(const QSet<QString>& sentIds, int status, const QString& error) {
    // Only the status counts: once the server has answered 2xx it has the
    // batch.
    if (status >= 200 && status <= 299) {
        // By id, not by position: events may have been dropped or added
        // while the request was in flight.
        queue_.removeIf([&](const AppAnalyticsEvent& event) { return sentIds.contains(event.id); });
        retryDelay_ = options_.timing.firstRetry;
        persistQueue();
        if (!queue_.isEmpty())
            scheduleFlush(options_.timing.batchPause);
        return;
    }
    const QString description =
        status != 0 ? QStringLiteral("Bad server response (HTTP status %1)").arg(status) : error;
    qCDebug(lcAnalytics, "Analytics upload deferred: %s", qUtf8Printable(description));
    const std::chrono::milliseconds delay = retryDelay_;
    retryDelay_ = std::min(2 * delay, options_.timing.maxRetry);
    scheduleFlush(delay);
}

void AnalyticsClient::logFailure(const std::exception& failure) {
    qCDebug(lcAnalytics, "Analytics failed: %s", describeFailure(failure).c_str());
}

void AnalyticsClient::persistQueue() {
    if (const std::optional<QString> error = queueFile_.save(queue_))
        qCDebug(lcAnalytics, "Unable to persist analytics queue: %s", qUtf8Printable(*error));
}

} // namespace kavlo
