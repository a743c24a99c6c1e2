// AppAnalytics: the one object through which the application records usage
// events. It queues them in a file, trims the queue and uploads it in
// batches with back-off. Callers never wait for it and never see its
// failures; the worst it can cost is a debug log line.
//
// Threads: every public function may be called from any thread. The queue,
// the identifiers and the back-off live on the instance's own thread and are
// reached only through queued calls, so there are no locks.
#pragma once

#include "analytics/analytics_event.h"

#include <QJsonObject>
#include <QLoggingCategory>
#include <QSettings>

#include <chrono>
#include <functional>
#include <memory>

class QThread;

namespace kavlo {

// "Analytics": every line is debug level and off unless enabled, for
// example with QT_LOGGING_RULES="Analytics.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcAnalytics)

inline constexpr char kInstallationIdKey[] = "com.tarsel.kavlo.analytics.installation-id";
inline constexpr char kHasLaunchedKey[] = "com.tarsel.kavlo.analytics.has-launched";

struct AnalyticsTiming {
    std::chrono::milliseconds debounce{750};     // first upload after an event
    std::chrono::milliseconds batchPause{200};   // between successful batches
    std::chrono::milliseconds firstRetry{2000};  // doubled after each failure...
    std::chrono::milliseconds maxRetry{900'000}; // ...up to this
    std::chrono::milliseconds requestTimeout{5000};
};

// Everything the instance takes from its surroundings. The defaults are the
// application's; tests replace them to run fast and apart from the user's
// own files.
struct AnalyticsOptions {
    QString queuePath;      // empty: QueueFile::defaultPath()
    QJsonObject bundleInfo; // empty: kavlo::bundleInfo()
    // Called once, on the analytics thread; the settings object stays there.
    std::function<std::unique_ptr<QSettings>()> makeSettings; // empty: defaultSettings()
    std::function<QDateTime()> now; // called on the analytics thread; empty: the UTC clock
    AnalyticsTiming timing;
};

// The per-user store of the installation id and the first-launch flag.
std::unique_ptr<QSettings> defaultSettings();

class AnalyticsClient;

class AppAnalytics {
  public:
    // The process-wide instance, created on first use with the default
    // options. Needs a QCoreApplication; it is shut down with it.
    static AppAnalytics& shared();

    explicit AppAnalytics(AnalyticsOptions options = {});
    // Runs everything already posted, abandons an upload in flight (its
    // events are still in the file) and stops the thread.
    ~AppAnalytics();
    AppAnalytics(const AppAnalytics&) = delete;
    AppAnalytics& operator=(const AppAnalytics&) = delete;

    // Records one event; property values are cut to 100 characters.
    void track(const QString& name, const AnalyticsProperties& properties = {});
    void track(const UsageEvent& event) { track(event.name, event.properties); }
    // Logs "mac_app_first_open" once per user account and
    // "mac_app_session_started" once per instance. Called at launch.
    void startSession();

    // Waits for everything posted before and returns the queue. For tests
    // and diagnostics; never call it from the analytics thread.
    QList<AppAnalyticsEvent> queuedEvents() const;

  private:
    std::unique_ptr<QThread> thread_;
    AnalyticsClient* client_; // owned; lives and dies on thread_
};

} // namespace kavlo
