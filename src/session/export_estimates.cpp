#include "session/export_estimates.h"

#include "core/error.h"
#include "core/thread_priority.h"
#include "session/export_presets.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

#include <QTimerEvent>

#include <utility>

namespace kavlo {

namespace {

// Trim drags end in a burst of changes; the estimate starts once they stop.
constexpr int kSettleMs = 120;

} // namespace

ChoiceSamples ExportEstimates::KeptSamples::get() {
    const std::lock_guard lock(mutex_);
    return samples_;
}

void ExportEstimates::KeptSamples::set(ChoiceSamples samples) {
    const std::lock_guard lock(mutex_);
    samples_ = std::move(samples);
}

ExportEstimates::ExportEstimates(QObject* parent)
    : QObject(parent), kept_(std::make_shared<KeptSamples>()),
      mailbox_(std::make_shared<UiMailbox>(this)), threads_(std::make_unique<TaskThreads>()) {}

ExportEstimates::~ExportEstimates() {
    running_.request_stop();
    mailbox_->close();
}

void ExportEstimates::estimate(const std::optional<std::filesystem::path>& source, double start,
                               double end, double speed) {
    running_.request_stop();
    ++generation_;
    results_.clear();
    wanted_.reset();
    if (source)
        wanted_ = ExportSelection{*source, start, end, speed};
    else
        kept_->set({});
    estimating_ = wanted_.has_value();
    emit changed();
    if (timer_)
        killTimer(timer_);
    timer_ = wanted_ ? startTimer(kSettleMs) : 0;
}

void ExportEstimates::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_)
        return QObject::timerEvent(event);
    killTimer(timer_);
    timer_ = 0;
    start();
}

void ExportEstimates::start() {
    if (!wanted_)
        return;
    const ExportSelection selection = *wanted_;
    const std::uint64_t generation = generation_;
    running_ = threads_->start(
        [this, mailbox = mailbox_, kept = kept_, selection, generation](std::stop_token stop) {
            // Nobody waits on a size: the preview render and the thumbnails
            // come first.
            setThisThreadNice(kBackgroundNice);
            auto publish = [&](const std::string& key, const SizeEstimate& estimate) {
                mailbox->post([this, generation, key, estimate] {
                    if (generation != generation_)
                        return;
                    results_[key] = estimate;
                    emit changed();
                });
            };
            try {
                // Pictures the last estimate read are not read again.
                const ChoiceSamples samples = readChoiceSamples(selection, kept->get(), stop);
                kept->set(samples);
                estimateChoices(samples, selection, sessionPresets().presets, publish);
            } catch (...) {
                // Cancelled, or the selection cannot be read: no sizes.
            }
            mailbox->post([this, generation] {
                if (generation != generation_)
                    return;
                estimating_ = false;
                emit changed();
            });
        });
}

} // namespace kavlo
