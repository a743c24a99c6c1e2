// AppAnalytics: the one object through which the application records usage
// events. It queues them in a file, trims the queue and uploads it in
// batches with back-off. Callers never wait for it and never see its
// failures; the worst it can cost is a debug log line.
//
// Threads: every public function may be called from any thread. The queue,
// the identifiers and the back-off live on the instance's own thread and are
// reached only through queued calls, so there are no locks. Whatever fails
// there ends in a debug log line.
#pragma once

#include "analytics/analytics_event.h"
#include "qtutil/object_thread.h"

#include <QJsonObject>
#include <QLoggingCategory>
#include <QSettings>

#include <chrono>
#include <functional>
#include <memory>

namespace kavlo {

// "com.tarsel.kavlo.analytics": every line is debug level and off unless
// enabled, for example with QT_LOGGING_RULES="com.tarsel.kavlo.*.debug=true".
// The lines never name the user's files.
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

// When the client flushes next: at most one pending flush at a time. Made,
// used and destroyed on the analytics thread; `fire` must run there too.
// The application's is a QTimer; tests pass one they fire themselves.
class FlushTimer {
  public:
    virtual ~FlushTimer() = default;
    // Runs the flush once, `delay` from now. Called only while not pending.
    virtual void start(std::chrono::milliseconds delay) = 0;
    virtual bool pending() const = 0;
};
using MakeFlushTimer = std::function<std::unique_ptr<FlushTimer>(std::function<void()> fire)>;

// Everything the instance takes from its surroundings. The defaults are the
// application's; tests replace them to run fast and apart from the user's
// own files.
struct AnalyticsOptions {
    QString queuePath;      // empty: QueueFile::defaultPath()
    QJsonObject bundleInfo; // empty: kavlo::bundleInfo()
    // Called once, on the analytics thread; the settings object stays there.
    std::function<std::unique_ptr<QSettings>()> makeSettings; // empty: defaultSettings()
    std::function<QDateTime()> now; // called on the analytics thread; empty: the UTC clock
    MakeFlushTimer makeFlushTimer;  // called once, on the analytics thread; empty: a QTimer
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
    std::unique_ptr<ObjectThread<AnalyticsClient>> client_;
};

} // namespace kavlo
