// The state behind AppAnalytics and its operations. Internal to the module.
//
// Threads: constructed anywhere, then moved to AppAnalytics' thread; from
// start() on, every member function runs on that thread only.
#pragma once

#include "analytics/app_analytics.h"
#include "analytics/queue_file.h"
#include "analytics/upload_request.h"

#include <QObject>
#include <QPointer>
#include <QSet>


namespace kavlo {

class AnalyticsClient : public QObject {
  public:
    explicit AnalyticsClient(AnalyticsOptions options);
    ~AnalyticsClient() override;

    // Reads or creates the installation id and loads the queue file.
    void start();
    void track(const QString& name, const AnalyticsProperties& properties);
    void startSession();
    const QList<AppAnalyticsEvent>& queue() const { return queue_; }

    // The debug line for whatever failed on the analytics thread.
    static void logFailure(const std::exception& failure);

  private:
    void scheduleFlush(std::chrono::milliseconds delay);
    void flush();
    // `status` is 0 when the upload got no HTTP answer; `error` says why.
    void finishUpload(const QSet<QString>& sentIds, int status, const QString& error);
    void persistQueue();

    AnalyticsOptions options_;
    QueueFile queueFile_;
    std::unique_ptr<QSettings> settings_;
    QString installationId_;
    const QString sessionId_;
    QList<AppAnalyticsEvent> queue_;
    std::unique_ptr<FlushTimer> flushTimer_;
    QPointer<UploadRequest> upload_; // the request in flight, if any
    std::chrono::milliseconds retryDelay_;
    bool hasStartedSession_ = false;
};

} // namespace kavlo
