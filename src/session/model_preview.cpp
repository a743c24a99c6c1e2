// The smooth preview: the real ping-pong loop, rendered with one loop into a
// temporary file by the same renderer that exports, then looped by the
// preview player. Every call renders anew; a newer call, a shown frame or a
// load cancels the render before it, which then deletes its own file.
//
// Preview files are deleted as soon as nothing uses them any more: a file
// stays while the player loops it, while it is the prepared preview (a
// render that finished during a drag, installed at the release), or while
// its render runs. What is left goes with the Model.
#include "session/model.h"

#include "core/error.h"
#include "media/file_util.h"
#include "media/temporary_file.h"
#include "render/render_video.h"
#include "session/file_paths.h"
#include "session/session_log.h"
#include "session/task_error.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

namespace kavlo {

void Model::prepareSmoothPreview() {
    if (!url_)
        return;
    Batch batch(*this);
    // A frame shown by Mark is over once a new preview is asked for (a
    // speed chosen meanwhile): its return would have ended the scrub, and
    // with the scrub still on, the render's result would never be shown.
    if (frameResumeTask_)
        scrubbing_.reset();
    cancelFrameResume();
    cancelRender();
    // The render has the processor: the scrub player's work ahead waits for
    // the next drag.
    scrubPlayer_->pause();

    const PreviewJob job{.id = nextTaskId_++,
                         .source = *url_,
                         .output = newTemporaryFile("preview"),
                         .trimStart = start_,
                         .trimEnd = end_,
                         .speed = exportSpeed_,
                         .area = previewPixelSize_};
    previewFiles_.emplace(job.output, nullptr);
    renderOutput_ = job.output;
    renderArea_ = job.area;
    renderTask_.id = job.id;
    updateBusy();
    if (exports_.empty())
        setProgress(0);
    setStatus(QStringLiteral("Preparing smooth preview..."));
    setActivity({.kind = Notice::Kind::previewing,
                 .text = QStringLiteral("Preparing the preview…"),
                 .progress = std::nullopt,
                 .file = std::nullopt});
    track(events::previewStarted(job.trimEnd - job.trimStart, job.speed));

    const std::shared_ptr<YieldGate> gate = previewFirst_;
    renderTask_.stop = threads_->start([this, mailbox = mailbox_, gate, job](std::stop_token stop) {
        // The strip's exact images wait while the preview renders.
        const YieldGate::Hold first(*gate);
        const ProgressCallback progress = [&](double fraction) {
            mailbox->post([this, id = job.id, fraction] {
                // An export's progress is not mixed with a preview's.
                if (renderTask_.id == id && exports_.empty())
                    setProgress(fraction);
            });
        };
        RenderOptions options;
        options.video = H264Settings::forPreview();
        // No larger than the area shows it: smaller previews are ready sooner.
        options.fitWithin = {job.area.width, job.area.height};
        // The pictures of the export, whatever size shows them.
        options.rateAsAtFullSize = true;
        const RenderLog log({.kind = "Preview",
                             .source = job.source,
                             .output = job.output,
                             .trimStart = job.trimStart,
                             .trimEnd = job.trimEnd,
                             .speed = job.speed,
                             .loops = 1,
                             .fitWithin = options.fitWithin});
        try {
            const RenderResult result =
                renderPingPongVideo(job.source, job.output, job.trimStart, job.trimEnd, job.speed,
                                    1, progress, stop, options);
            log.succeeded(result);
            throwIfCancelled(stop);
            // Held against sweeps from now on; dropped on its way (the
            // window closed), the file goes with it.
            auto held = std::make_shared<HeldFile>(job.output);
            mailbox->post([this, job, result, held] { previewRendered(job, result, held); });
        } catch (const Cancelled&) {
            log.failed(std::current_exception());
            removeFileQuietly(job.output);
        } catch (...) {
            log.failed(std::current_exception());
            mailbox->post(
                [this, job, error = std::current_exception()] { previewFailed(job, error); });
        }
    });
}

void Model::cancelRender() {
    renderTask_.cancel();
    // The render deletes its file itself once it notices.
    if (renderOutput_)
        previewFiles_.erase(*renderOutput_);
    renderOutput_.reset();
}

void Model::previewRendered(const PreviewJob& job, const RenderResult& result,
                            const std::shared_ptr<HeldFile>& held) {
    if (renderTask_.id != job.id)
        return; // cancelled after its last check: `held` deletes the file
    Batch batch(*this);
    renderTask_ = {};
    renderOutput_.reset();
    previewFiles_[job.output] = held;
    set(fps_, result.frameRate, kFps);
    prepared_ = {.file = job.output,
                 .sourceFrames = result.sourceFrameCount,
                 .trimStart = job.trimStart,
                 .speed = job.speed,
                 .reduced = result.reduced};
    // A drag in progress keeps its picture; its release renders again.
    if (!scrubbing_)
        installPreparedPreview();
    deleteUnusedPreviews();
    updateBusy();
    setStatus(displayName(originalSource_.value_or(job.source)));
    setActivity({});
    track(events::previewSucceeded(job.trimEnd - job.trimStart, job.speed));
}

void Model::previewFailed(const PreviewJob& job, std::exception_ptr error) {
    // Whatever a failed render left of its file is of no use to anyone.
    removeFileQuietly(job.output);
    previewFiles_.erase(job.output);
    if (renderTask_.id != job.id)
        return;
    Batch batch(*this);
    renderTask_ = {};
    renderOutput_.reset();
    updateBusy();
    // The previous preview keeps looping: a drag paused it and its release
    // covered it with the last scrubbed frame, waiting for this render.
    if (installedPreview_ && !scrubbing_) {
        ++previewRevealGeneration_;
        setOverlay(false);
        player_->play();
    }
    withException(error, [&](const std::exception& e) {
        const QString text =
            QStringLiteral("Preview failed: ") + QString::fromStdString(describeFailure(e));
        setStatus(text);
        setActivity({.kind = Notice::Kind::failed,
                     .text = dynamic_cast<const std::bad_alloc*>(&e)
                                 ? QStringLiteral("Not enough memory for the preview. Try a "
                                                  "shorter selection.")
                                 : text,
                     .progress = std::nullopt,
                     .file = std::nullopt});
        track(events::previewFailed(e));
    });
}

void Model::deleteUnusedPreviews() {
    std::erase_if(previewFiles_, [this](const auto& entry) {
        const std::filesystem::path& file = entry.first;
        if (file == installedPreview_ || file == prepared_.file || file == renderOutput_)
            return false;
        removeFileQuietly(file);
        return true;
    });
}

} // namespace kavlo
