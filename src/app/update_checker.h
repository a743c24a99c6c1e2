// UpdateChecker: asks the web API once whether a newer build exists, and
// holds the answer for the window's alert until the user acts on it. Every
// failure (no network, a time-out, an error status, a body that does not
// decode or is over 1 MB) is silent: nothing is shown or logged.
//
// UI thread only. The request runs asynchronously in the network access
// manager; its result is applied on the UI thread.
#pragma once

#include "analytics/analytics_event.h"
#include "app/update_info.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace kavlo {

// Everything the checker takes from its surroundings; tests pass fakes.
struct UpdateEnvironment {
    // Where to ask; none: the check is skipped.
    std::optional<QUrl> endpoint;
    qint64 appBuild = 1;
    QNetworkAccessManager* network = nullptr;     // not owned; null: one of its own
    std::function<bool(const QUrl&)> openUrl;     // empty: QDesktopServices::openUrl
    std::function<void(const UsageEvent&)> track; // empty: AppAnalytics::shared()
    int timeoutMs = 60'000;
    qint64 maxBodyBytes = 1 << 20;
};

// The application's own: the endpoint and build from the information
// dictionary. KAVLO_API_BASE_URL set to an empty value turns the check off,
// as it does the analytics uploads.
UpdateEnvironment defaultUpdateEnvironment();

class UpdateChecker : public QObject {
    Q_OBJECT

  public:
    explicit UpdateChecker(UpdateEnvironment environment, QObject* parent = nullptr);
    ~UpdateChecker() override;

    // The update to announce; none: no alert.
    const std::optional<MacUpdateInfo>& availableUpdate() const { return availableUpdate_; }

    // Sends the request and returns at once; a check already running is
    // left to finish.
    void checkForUpdate();
    // "Download": opens the update's address when it parses (logging the
    // click) and closes the notice either way.
    void openUpdateDownload();
    // "Not Now": logs the dismissal and closes the notice.
    void dismissUpdate();

  signals:
    void availableUpdateChanged();
    // The request has ended, whatever its outcome (for tests and tools).
    void checkFinished();

  private:
    void readBody();
    void finish();
    void setAvailableUpdate(std::optional<MacUpdateInfo> update);
    void track(const UsageEvent& event);

    UpdateEnvironment environment_;
    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    bool oversized_ = false;
    std::optional<MacUpdateInfo> availableUpdate_;
};

} // namespace kavlo
