// The analytics queue file: one compact JSON array of events, oldest first,
// mirrored after every change so events survive quitting and crashes.
// Not thread-safe; the analytics context is its only user.
#pragma once

#include "analytics/analytics_event.h"

#include <QString>

#include <functional>
#include <optional>

namespace kavlo {

class QueueFile {
  public:
    explicit QueueFile(QString path) : path_(std::move(path)) {}

    // "analytics-events.json" in "Kavlo" under the user's data directory
    // (~/.local/share/Kavlo/ on a typical Linux desktop).
    static QString defaultPath();

    const QString& path() const { return path_; }

    // The stored events, or none when the file is missing, unreadable or
    // does not decode as a whole. A bad file is left in place; the next
    // save replaces it.
    QList<AppAnalyticsEvent> load() const;

    // Creates the directory as needed and replaces the file atomically: the
    // bytes go to a temporary file that is renamed over the old one, so a
    // reader or a crash sees either the old or the new queue, never a mix.
    // Returns the error description on failure; the old file then stays.
    std::optional<QString> save(const QList<AppAnalyticsEvent>& events) const;

    // Runs after the new bytes are written and before they replace the
    // file: the worst moment for a crash, which tests recreate here.
    void setBeforeReplace(std::function<void()> hook) { beforeReplace_ = std::move(hook); }

  private:
    QString path_;
    std::function<void()> beforeReplace_;
};

} // namespace kavlo
