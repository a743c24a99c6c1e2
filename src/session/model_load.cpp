// Loading: a chosen file becomes a ready session. The Model resets, then a
// task off the UI thread reads the file's duration, frame rate and display
// shape; back on the UI thread the default selection is set, both players
// get the video and the first preview starts. A newer load cancels an older
// one, whose result is never applied.
#include "session/model.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "session/selection.h"
#include "session/task_error.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"

#include <QFile>

#include <algorithm>

namespace kavlo {

// What the load task found out, carried back to the UI thread.
struct LoadedVideo {
    std::filesystem::path opened;   // the file the user chose
    std::filesystem::path playable; // the file to read: the opened one or a converted copy
    std::optional<std::filesystem::path> transcoded;
    AnalyticsProperties file; // the load events' file properties
    double durationSeconds = 0;
    double nominalFrameRate = 0; // 0 when unknown
    double displayWidth = 16;
    double displayHeight = 9;
};

namespace {

// Reads what the session needs to know about `file`. Blocking; runs on the
// load task's thread.
LoadedVideo readVideo(const std::filesystem::path& file, std::stop_token stop) {
    LoadedVideo video;
    video.opened = file;
    video.playable = file;
    const MediaInfo info = probeMedia(file.native());
    throwIfCancelled(stop);
    if (!info.video)
        throw kavloError(kNoVideoTrackFound, "No video track found.");
    video.durationSeconds = info.durationSeconds;
    video.nominalFrameRate = info.video->nominalFrameRate();
    const double width = info.video->uprightWidth();
    const double height = info.video->uprightHeight();
    if (width > 0 && height > 0) {
        video.displayWidth = std::max(width, 1.0);
        video.displayHeight = std::max(height, 1.0);
    }
    return video;
}

} // namespace

QString Model::displayName(const std::filesystem::path& file) const {
    return QFile::decodeName(QByteArray::fromStdString(file.filename().native()));
}

void Model::loadVideo(const std::filesystem::path& file, VideoLoadSource source) {
    Batch batch(*this);
    const AnalyticsProperties properties =
        fileProperties(QFile::decodeName(QByteArray::fromStdString(file.native())), source);
    track(events::videoLoadStarted(properties));
    reset();
    setStatus(QStringLiteral("Loading ") + displayName(file) + QStringLiteral("..."));
    stopPlayers();

    const std::uint64_t id = nextTaskId_++;
    loadTask_.id = id;
    loadTask_.stop =
        threads_->start([this, mailbox = mailbox_, id, file, properties](std::stop_token stop) {
            try {
                LoadedVideo video = readVideo(file, stop);
                video.file = properties;
                if (stop.stop_requested()) {
                    if (video.transcoded)
                        removeFileQuietly(*video.transcoded);
                    return;
                }
                mailbox->post([this, id, video] { loadFinished(id, video); });
            } catch (const Cancelled&) {
            } catch (...) {
                mailbox->post([this, id, properties, error = std::current_exception()] {
                    loadFailed(id, properties, error);
                });
            }
        });
}

void Model::loadFinished(std::uint64_t id, const LoadedVideo& video) {
    if (loadTask_.id != id) {
        if (video.transcoded)
            removeFileQuietly(*video.transcoded);
        return;
    }
    Batch batch(*this);
    loadTask_ = {};
    const double duration = std::max(video.durationSeconds, 0.1);
    transcodedSource_ = video.transcoded;
    originalSource_ = video.opened;
    set(url_, std::optional(video.playable), kUrl);
    set(end_, std::min(duration, kDefaultLoopSeconds), kEnd);
    set(duration_, duration, kDuration);
    set(fps_, sessionFrameRate(video.nominalFrameRate), kFps);
    set(videoAspect_, video.displayWidth / std::max(video.displayHeight, 1.0), kVideoAspect);
    setStatus(displayName(video.opened));
    setPlayerItem(video.playable);
    scrubPlayer_->pause();
    scrubPlayer_->setItem(video.playable.native());
    prepareSmoothPreview();
    track(events::videoLoadSucceeded(video.file, duration, video.displayWidth, video.displayHeight,
                                     video.nominalFrameRate));
}

void Model::loadFailed(std::uint64_t id, const AnalyticsProperties& file,
                       std::exception_ptr error) {
    if (loadTask_.id != id)
        return;
    Batch batch(*this);
    loadTask_ = {};
    setBusy(false);
    setProgress(0);
    withException(error, [&](const std::exception& e) {
        setStatus(QStringLiteral("Could not load video: ") + QString::fromStdString(e.what()));
        track(events::videoLoadFailed(file, e));
    });
}

} // namespace kavlo
