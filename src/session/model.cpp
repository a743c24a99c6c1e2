// The Model's state: construction, tear-down, notification, the selection
// helpers and the reset before a load. The flows live beside it:
// model_playback.cpp (players, scrubbing, the looping preview),
// model_editing.cpp (trim, move, mark), model_preview.cpp (the preview
// render) and model_load.cpp (loading).
#include "session/model.h"

#include "analytics/app_analytics.h"
#include "media/file_util.h"
#include "media/temporary_file.h"
#include "session/preview_area.h"
#include "session/selection.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

#include <stdexcept>
#include <utility>

namespace kavlo {

void Model::TaskSlot::cancel() {
    if (id != 0)
        stop.request_stop();
    id = 0;
}

Model::Batch::~Batch() {
    if (--model_.batchDepth_ == 0)
        model_.flush();
}

Model::Model(ModelEnvironment environment, QObject* parent)
    : QObject(parent), player_(std::move(environment.player)),
      scrubPlayer_(std::move(environment.scrubPlayer)), panels_(environment.panels),
      track_(std::move(environment.track)), exampleVideo_(std::move(environment.exampleVideo)),
      ffmpegCandidates_(std::move(environment.ffmpegCandidates)),
      tempDir_(std::move(environment.tempDir)), timers_(std::move(environment.timers)),
      mailbox_(std::make_shared<UiMailbox>(this)), threads_(std::make_unique<TaskThreads>()) {
    if (!player_ || !scrubPlayer_)
        throw std::invalid_argument("Model needs both players");
    if (!timers_)
        timers_ = makeQtTimers();
    if (tempDir_.empty())
        tempDir_ = std::filesystem::temp_directory_path();
    // Converted sources and previews of sessions that crashed.
    removeStaleTemporaryFiles(tempDir_);
    // The player owns the observer and calls it on this thread from the
    // event loop only; it goes before the Model does.
    timeObserver_ =
        player_->addPeriodicTimeObserver(1.0 / 120, [this](double time) { followPlayer(time); });
}

Model::~Model() {
    mailbox_->close();
    player_->removeTimeObserver(timeObserver_);
    // Every task is asked to stop, the preview render included: nothing would
    // use its file. A cancelled render deletes its own file.
    loadTask_.cancel();
    renderTask_.cancel();
    thumbnailTask_.cancel();
    threads_.reset();
    timers_.reset();
    player_.reset();
    scrubPlayer_.reset();
    for (const auto& [file, held] : previewFiles_)
        removeFileQuietly(file);
    previewFiles_.clear();
    transcodedSource_.reset(); // deletes the converted copy
}

FrameSource* Model::previewPictures() const {
    return player_->pictures();
}

FrameSource* Model::scrubPictures() const {
    return scrubPlayer_->pictures();
}

void Model::setExportSpeed(double speed) {
    set(exportSpeed_, speed, kExportSpeed);
}

void Model::setPreviewPixelSize(PixelSize size) {
    previewPixelSize_ = size;
    if (resizeRenderTask_)
        timers_->cancel(*resizeRenderTask_);
    resizeRenderTask_.reset();
    if (!previewAreaOutgrown(renderArea_, size))
        return;
    resizeRenderTask_ = timers_->start(kPreviewResizeDelay, [this] {
        resizeRenderTask_.reset();
        // A drag renders at its release; a preview already at the source's
        // own size can get no sharper.
        const bool rendering = renderTask_.id != 0;
        if (!url_ || scrubbing_ || !previewAreaOutgrown(renderArea_, previewPixelSize_) ||
            (!rendering && prepared_.file && !prepared_.reduced))
            return;
        prepareSmoothPreview();
    });
}

void Model::changed(Field bit) {
    pending_ |= bit;
    if (batchDepth_ == 0)
        flush();
}

void Model::flush() {
    // Slots may change the Model again; those changes join this flush.
    ++batchDepth_;
    while (pending_ != 0) {
        const std::uint32_t bits = std::exchange(pending_, 0);
        if (bits & kUrl)
            emit urlChanged();
        if (bits & kDuration)
            emit durationChanged();
        if (bits & kStart)
            emit startChanged();
        if (bits & kEnd)
            emit endChanged();
        if (bits & kPlayhead)
            emit playheadChanged();
        if (bits & kVideoAspect)
            emit videoAspectChanged();
        if (bits & kStatus)
            emit statusChanged();
        if (bits & kBusy)
            emit busyChanged();
        if (bits & kProgress)
            emit progressChanged();
        if (bits & kFps)
            emit fpsChanged();
        if (bits & kThumbnails)
            emit thumbnailsChanged();
        if (bits & kExportSpeed)
            emit exportSpeedChanged();
        if (bits & kScrubOverlay)
            emit scrubOverlayVisibleChanged();
        if (bits & kNotice)
            emit noticeChanged();
        if (bits & (kDuration | kStart | kEnd))
            emit selectionChanged();
    }
    --batchDepth_;
}

void Model::track(const UsageEvent& event) {
    if (track_)
        track_(event);
    else
        AppAnalytics::shared().track(event);
}

void Model::setStart(double t) {
    Selection s{.duration = duration_, .fps = fps_, .start = start_, .end = end_};
    s.setStart(t);
    set(start_, s.start, kStart);
}

void Model::setEnd(double t) {
    Selection s{.duration = duration_, .fps = fps_, .start = start_, .end = end_};
    s.setEnd(t);
    set(end_, s.end, kEnd);
}

int Model::frameIndex(double t) const {
    return Selection{.duration = duration_, .fps = fps_}.frameIndex(t);
}

double Model::timeForFrame(int i) const {
    return Selection{.duration = duration_, .fps = fps_}.timeForFrame(i);
}

void Model::reset() {
    loadTask_.cancel();
    cancelRender();
    thumbnailTask_.cancel();
    cancelFrameResume();
    if (resizeRenderTask_)
        timers_->cancel(*resizeRenderTask_);
    resizeRenderTask_.reset();
    transcodedSource_.reset(); // deletes the converted copy
    prepared_ = {};
    markCycle_.reset();
    // A frame shown by Mark, or a drag, is over with the video it showed:
    // the new video's preview must not wait for a release that will not come.
    scrubbing_.reset();
    ++previewRevealGeneration_;
    if (!thumbnails_.isEmpty()) {
        thumbnails_.clear();
        changed(kThumbnails);
    }
    set(url_, std::optional<std::filesystem::path>(), kUrl);
    originalSource_.reset();
    setOverlay(false);
    set(duration_, 1.0, kDuration);
    set(start_, 0.0, kStart);
    set(end_, 1.0, kEnd);
    setPlayhead(0);
    set(videoAspect_, kDefaultAspect, kVideoAspect);
    updateBusy();
    if (exports_.empty())
        setProgress(0);
}

void Model::updateBusy() {
    setBusy(renderTask_.id != 0 || !exports_.empty());
}

void Model::setActivity(Notice notice) {
    activity_ = std::move(notice);
    updateNotice();
}

void Model::updateNotice() {
    Notice next = activity_;
    if (!exports_.empty()) {
        double progress = 0;
        for (const auto& [id, run] : exports_)
            progress += run.progress;
        next = {.kind = Notice::Kind::exporting,
                .text = exports_.size() > 1
                            ? QStringLiteral("Exporting %1 files…").arg(exports_.size())
                        : exports_.begin()->second.format == ExportFormat::gif
                            ? QStringLiteral("Exporting GIF…")
                            : QStringLiteral("Exporting MP4…"),
                .progress = progress / double(exports_.size()),
                .file = std::nullopt};
    } else if (exportOutcome_) {
        next = *std::exchange(exportOutcome_, std::nullopt);
        activity_ = {};
    }
    set(notice_, std::move(next), kNotice);
}

std::filesystem::path Model::newTemporaryFile(const char* role) const {
    return tempDir_ / ("kavlo-" + std::string(role) + "-" + newUuid() + ".mp4");
}

} // namespace kavlo
