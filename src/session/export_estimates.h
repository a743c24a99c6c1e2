// The expected size of every export choice for the current selection,
// estimated on a thread of its own from sample encodes (size_budget.h), so
// the window can show it before anything is exported.
//
// A new selection or speed replaces the estimate under way; each result
// comes back to the UI thread as soon as it is known, the plain formats
// first. UI thread only.
#pragma once

#include "session/choice_estimates.h"

#include <QObject>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
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

    // By choice: "mp4" (one loop), "gif", or a preset's name (the choices
    // the window shows). A choice missing here is not estimated yet.
    const std::map<std::string, SizeEstimate>& results() const { return results_; }
    // True from a selection until every choice it has is estimated.
    bool estimating() const { return estimating_; }

  signals:
    void changed();

  private:
    void start();

    std::optional<ExportSelection> wanted_;
    std::map<std::string, SizeEstimate> results_;
    bool estimating_ = false;
    std::uint64_t generation_ = 0;
    std::stop_source running_;
    int timer_ = 0;

    void timerEvent(QTimerEvent* event) override;

    // The samples of the last estimate, for the next one to take what it
    // can from: the estimating thread sets them, the next one reads them.
    class KeptSamples {
      public:
        ChoiceSamples get();
        void set(ChoiceSamples samples);

      private:
        std::mutex mutex_;
        ChoiceSamples samples_;
    };
    std::shared_ptr<KeptSamples> kept_;

    std::shared_ptr<UiMailbox> mailbox_;
    std::unique_ptr<TaskThreads> threads_; // last: stopped first
};

} // namespace kavlo
