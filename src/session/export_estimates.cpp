#include "session/export_estimates.h"

#include "core/error.h"
#include "core/thread_priority.h"
#include "render/sample_encoder.h"
#include "session/export_presets.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

#include <QTimerEvent>

namespace kavlo {

namespace {

// Trim drags end in a burst of changes; the estimate starts once they stop.
constexpr int kSettleMs = 120;

} // namespace

ExportEstimates::ExportEstimates(QObject* parent)
    : QObject(parent), mailbox_(std::make_shared<UiMailbox>(this)),
      threads_(std::make_unique<TaskThreads>()) {}

ExportEstimates::~ExportEstimates() {
    running_.request_stop();
    mailbox_->close();
}

void ExportEstimates::estimate(const std::optional<std::filesystem::path>& source, double start,
                               double end, double speed) {
    running_.request_stop();
    ++generation_;
    results_.clear();
    emit changed();
    wanted_.reset();
    if (source)
        wanted_ = Selection{*source, start, end, speed};
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
    const Selection selection = *wanted_;
    const std::uint64_t generation = generation_;
    running_ = threads_->start([this, mailbox = mailbox_, selection,
                                generation](std::stop_token stop) {
        // Nobody waits on a size: the preview render and the thumbnails
        // come first.
        setThisThreadNice(kBackgroundNice);
        auto requestOf = [&](ExportFormat format) {
            ExportRequest request;
            request.source = selection.source;
            request.trimStart = selection.start;
            request.trimEnd = selection.end;
            request.speed = selection.speed;
            request.format = format;
            return request;
        };
        auto publish = [&](std::string key, SizeEstimate estimate) {
            mailbox->post([this, generation, key = std::move(key), estimate] {
                if (generation != generation_)
                    return;
                results_[key] = estimate;
                emit changed();
            });
        };
        auto attempt = [&](const std::string& key, SampleModel& model,
                           const ExportRequest& request) {
            try {
                publish(key, estimateExport(model, request));
            } catch (const Cancelled&) {
                throw;
            } catch (...) {
                // No size for this choice; its export says what is wrong.
            }
        };
        try {
            // One set of samples for the 4:2:0 writers and one for the
            // palette one; every preset is estimated on them.
            SampleModel video(requestOf(ExportFormat::mp4), stop, {});
            for (ExportFormat format : {ExportFormat::mp4, ExportFormat::webp, ExportFormat::webm})
                attempt(std::string(exportFormatName(format)), video, requestOf(format));
            SampleModel palette(requestOf(ExportFormat::gif), stop, {});
            attempt("gif", palette, requestOf(ExportFormat::gif));
            for (const ExportPreset& preset : sessionPresets().presets) {
                ExportRequest request = requestFor(preset);
                request.source = selection.source;
                request.trimStart = selection.start;
                request.trimEnd = selection.end;
                request.speed = selection.speed;
                attempt(preset.name, preset.format == ExportFormat::gif ? palette : video, request);
            }
        } catch (...) {
            // Cancelled, or the selection cannot be read: no sizes.
        }
    });
}

} // namespace kavlo
