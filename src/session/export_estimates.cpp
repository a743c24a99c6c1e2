#include "session/export_estimates.h"

#include "core/error.h"
#include "core/thread_priority.h"
#include "render/sample_encoder.h"
#include "session/export_presets.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

#include <QTimerEvent>

#include <utility>
#include <vector>

namespace kavlo {

namespace {

// Trim drags end in a burst of changes; the estimate starts once they stop.
constexpr int kSettleMs = 120;

} // namespace

std::pair<std::shared_ptr<SampleModel>, std::shared_ptr<SampleModel>>
ExportEstimates::KeptSamples::get() {
    const std::lock_guard lock(mutex_);
    return {palette_, video_};
}

void ExportEstimates::KeptSamples::set(std::shared_ptr<SampleModel> palette,
                                       std::shared_ptr<SampleModel> video) {
    const std::lock_guard lock(mutex_);
    palette_ = std::move(palette);
    video_ = std::move(video);
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
        wanted_ = Selection{*source, start, end, speed};
    else
        kept_->set(nullptr, nullptr);
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
    const Selection selection = *wanted_;
    const std::uint64_t generation = generation_;
    running_ = threads_->start([this, mailbox = mailbox_, kept = kept_, selection,
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
        // Publishes one choice's estimate; true when it is settled (or
        // failed: no size for this choice, its export says what is wrong).
        auto attempt = [&](const std::string& key, const auto& estimateOf) {
            try {
                SizeEstimate estimate = estimateOf();
                const bool settled = estimate.settled;
                publish(key, std::move(estimate));
                return settled;
            } catch (const Cancelled&) {
                throw;
            } catch (...) {
                return true;
            }
        };
        try {
            // One set of samples serves every choice, unless the source has
            // full colour resolution: GIF keeps it, the others take 4:2:0
            // pictures of their own. Pictures the last estimate read are
            // not read again.
            std::shared_ptr<SampleModel> palette, video;
            {
                // What the new samples do not share is let go of before
                // anything is estimated on them.
                const auto before = kept->get();
                palette = std::make_shared<SampleModel>(requestOf(ExportFormat::gif), stop,
                                                        ProgressCallback{}, before.first.get());
                video = palette;
                if (!palette->serves(ExportFormat::mp4))
                    video = std::make_shared<SampleModel>(requestOf(ExportFormat::mp4), stop,
                                                          ProgressCallback{}, before.second.get());
            }
            kept->set(palette, video);
            auto modelFor = [&](ExportFormat format) -> SampleModel& {
                return palette->serves(format) ? *palette : *video;
            };
            // The window shows the plain MP4's and GIF's sizes, and the
            // presets'.
            for (ExportFormat format : {ExportFormat::mp4, ExportFormat::gif}) {
                SampleModel& model = modelFor(format);
                const ExportRequest request = requestOf(format);
                attempt(std::string(exportFormatName(format)),
                        [&] { return estimateExport(model, request); });
            }
            // A first size for every preset from one sample encode, then the
            // settings for those whose budget binds (a dozen encodes each).
            std::vector<std::pair<std::string, ExportRequest>> unsettled;
            for (const ExportPreset& preset : sessionPresets().presets) {
                ExportRequest request = requestFor(preset);
                request.source = selection.source;
                request.trimStart = selection.start;
                request.trimEnd = selection.end;
                request.speed = selection.speed;
                SampleModel& model = modelFor(preset.format);
                if (!attempt(preset.name, [&] { return quickEstimate(model, request); }))
                    unsettled.emplace_back(preset.name, request);
            }
            for (const auto& entry : unsettled) {
                SampleModel& model = modelFor(entry.second.format);
                attempt(entry.first, [&] { return estimateExport(model, entry.second); });
            }
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
