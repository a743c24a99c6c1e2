// The expected size of every export choice for the current selection,
// estimated on a thread of its own from sample encodes (size_budget.h), so
// the window can show it before anything is exported.
//
// A new selection or speed replaces the estimate under way; each result
// comes back to the UI thread as soon as it is known, the plain formats
// first. UI thread only.
#pragma once

#include "render/size_budget.h"

#include <QObject>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kavlo {

class TaskThreads;
class UiMailbox;

class ExportEstimates : public QObject {
    Q_OBJECT

  public:
    explicit ExportEstimates(QObject* parent = nullptr);
    ~ExportEstimates() override;

    // Estimates the exports of [start, end] of `source` at `speed`, after a
    // short pause in which a newer call replaces this one; none clears.
    void estimate(const std::optional<std::filesystem::path>& source, double start, double end,
                  double speed);

    // By choice: "mp4" (one loop), "gif", "webp", "webm", or a preset's
    // name. A choice missing here is not estimated yet.
    const std::map<std::string, SizeEstimate>& results() const { return results_; }

  signals:
    void changed();

  private:
    void start();

    struct Selection {
        std::filesystem::path source;
        double start = 0, end = 0, speed = 1;
    };
    std::optional<Selection> wanted_;
    std::map<std::string, SizeEstimate> results_;
    std::uint64_t generation_ = 0;
    std::stop_source running_;
    int timer_ = 0;

    void timerEvent(QTimerEvent* event) override;

    std::shared_ptr<UiMailbox> mailbox_;
    std::unique_ptr<TaskThreads> threads_; // last: stopped first
};

} // namespace kavlo
