// Loading: a chosen file becomes a ready session. The Model resets, then a
// task off the UI thread makes sure the file can be played (converting it
// when it cannot) and reads its duration, frame rate and display shape; back
// on the UI thread the default selection is set, both players get the video,
// and the thumbnails and the first preview start. A newer load cancels an
// older one, whose result is never applied.
#include "session/model.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "session/ffmpeg_process.h"
#include "session/file_panels.h"
#include "session/file_paths.h"
#include "session/playable_source.h"
#include "session/selection.h"
#include "session/session_log.h"
#include "session/task_error.h"
#include "session/task_threads.h"
#include "session/thumbnails.h"
#include "session/ui_mailbox.h"
#include "session/video_probe.h"

#include <QLoggingCategory>
#include <QPointer>

#include <algorithm>
#include <optional>

namespace kavlo {

// What the load task found out, carried back to the UI thread.
struct LoadedVideo {
    std::filesystem::path opened; // the file the user chose
    PlayableSource playable;
    VideoProbe probe;
    AnalyticsProperties file; // the load events' file properties
};

namespace {

Q_LOGGING_CATEGORY(lcLoad, "com.tarsel.kavlo.load", QtInfoMsg)

// What a failed load says over the video: in words the user can act on,
// the name of the file first. The converter's own reasons ("moov atom not
// found") go to the log; the status keeps the whole message.
QString loadFailureText(const std::filesystem::path& file, const std::exception& failure) {
    const QString name = displayName(file);
    const auto* error = dynamic_cast<const Error*>(&failure);
    const bool notAVideo =
        dynamic_cast<const ConverterError*>(&failure) ||
        (error && error->domain() == kKavloDomain &&
         (error->code() == kNoVideoTrackFound || error->code() == kConvertedFileUnreadable));
    if (notAVideo)
        return QStringLiteral("%1 is not a video Kavlo can open.").arg(name);
    if (dynamic_cast<const std::bad_alloc*>(&failure))
        return QStringLiteral("Not enough memory to open %1.").arg(name);
    return QStringLiteral("Could not open %1: %2")
        .arg(name, QString::fromStdString(describeFailure(failure)));
}

// True when the media layer opens the file and it holds no video stream at
// all: no conversion can make a video of it.
bool opensWithoutVideo(const std::filesystem::path& file) {
    try {
        return !probeMedia(file.native()).video;
    } catch (const Error&) {
        return false;
    }
}

} // namespace

void Model::chooseVideo() {
    if (!panels_)
        return;
    track(events::videoPickerOpened());
    const QPointer<Model> self(this); // the modal panel runs the event loop
    const std::optional<std::filesystem::path> file = panels_->chooseVideoFile();
    if (!self)
        return;
    if (file)
        loadVideo(*file, VideoLoadSource::picker);
    else
        track(events::videoPickerCanceled());
}

void Model::loadExampleVideo() {
    std::error_code ec;
    if (!exampleVideo_.empty() && std::filesystem::is_regular_file(exampleVideo_, ec))
        loadVideo(exampleVideo_, VideoLoadSource::example);
}

void Model::loadVideo(const std::filesystem::path& file, VideoLoadSource source) {
    Batch batch(*this);
    const AnalyticsProperties properties = fileProperties(file, source);
    track(events::videoLoadStarted(properties));
    logLoadStarted(file, source);
    reset();
    setStatus(QStringLiteral("Loading ") + displayName(file) + QStringLiteral("..."));
    setActivity({.kind = Notice::Kind::opening,
                 .text = QStringLiteral("Opening %1…").arg(displayName(file)),
                 .progress = std::nullopt,
                 .file = file});
    stopPlayers();

    const std::uint64_t id = nextTaskId_++;
    const QString converting = QStringLiteral("Converting %1 for Kavlo…").arg(displayName(file));
    ConversionSettings conversion{
        .ffmpegCandidates = ffmpegCandidates_, .tempDir = tempDir_, .progress = {}};
    conversion.progress = [this, mailbox = mailbox_, id, converting, file](double fraction) {
        mailbox->post([this, id, converting, file, fraction] {
            if (loadTask_.id == id)
                setActivity({Notice::Kind::converting, converting, fraction, file});
        });
    };
    loadTask_.id = id;
    loadTask_.stop = threads_->start([this, mailbox = mailbox_, id, file, properties, conversion,
                                      converting](std::stop_token stop) {
        const StatusCallback status = [&](const QString& text) {
            mailbox->post([this, id, text, converting, file] {
                if (loadTask_.id != id)
                    return;
                Batch batch(*this);
                setStatus(text);
                setActivity({Notice::Kind::converting, converting, std::nullopt, file});
            });
        };
        // The converted copy is held by the result until the Model takes
        // it: a result dropped on its way (the load superseded, the window
        // closed) deletes it.
        try {
            if (opensWithoutVideo(file))
                throw kavloError(kNoVideoTrackFound, "No video track found.");
            LoadedVideo video{.opened = file,
                              .playable = resolvePlayableSource(file, status, stop, conversion),
                              .probe = {},
                              .file = properties};
            video.probe = probeVideo(video.playable.playableURL);
            throwIfCancelled(stop);
            mailbox->post([this, id, video = std::move(video)] { loadFinished(id, video); });
        } catch (const Cancelled&) {
            logLoadFailed(file, std::current_exception());
        } catch (...) {
            logLoadFailed(file, std::current_exception());
            mailbox->post([this, id, file, properties, error = std::current_exception()] {
                loadFailed(id, file, properties, error);
            });
        }
    });
}

void Model::cancelLoad() {
    if (loadTask_.id == 0)
        return;
    Batch batch(*this);
    loadTask_.cancel();
    setStatus({});
    setActivity({});
}

void Model::loadFinished(std::uint64_t id, const LoadedVideo& video) {
    if (loadTask_.id != id)
        return; // the converted copy goes with `video`
    Batch batch(*this);
    loadTask_ = {};
    const VideoProbe& probe = video.probe;
    const std::filesystem::path& playable = video.playable.playableURL;
    const double duration = std::max(probe.durationSeconds, 0.1);
    transcodedSource_ = video.playable.transcoded;
    originalSource_ = video.opened;
    set(url_, std::optional(playable), kUrl);
    set(end_, std::min(duration, kDefaultLoopSeconds), kEnd);
    set(duration_, duration, kDuration);
    set(fps_, sessionFrameRate(probe.nominalFrameRate), kFps);
    set(videoAspect_, probe.displayWidth / std::max(probe.displayHeight, 1.0), kVideoAspect);
    setStatus(displayName(video.opened));
    logLoadSucceeded(video.opened, video.playable, probe);
    setActivity({});
    setPlayerItem(playable);
    scrubPlayer_->pause();
    scrubPlayer_->setItem(playable.native());
    startThumbnails(playable, duration);
    prepareSmoothPreview();
    track(events::videoLoadSucceeded(video.file, duration, probe.displayWidth, probe.displayHeight,
                                     probe.nominalFrameRate));
}

void Model::loadFailed(std::uint64_t id, const std::filesystem::path& opened,
                       const AnalyticsProperties& file, std::exception_ptr error) {
    if (loadTask_.id != id)
        return;
    Batch batch(*this);
    loadTask_ = {};
    updateBusy();
    if (exports_.empty())
        setProgress(0);
    withException(error, [&](const std::exception& e) {
        const QString message = QString::fromStdString(describeFailure(e));
        qCWarning(lcLoad, "Could not load %s: %s", qPrintable(displayPath(opened)),
                  qPrintable(message));
        setStatus(QStringLiteral("Could not load video: ") + message);
        setActivity({.kind = Notice::Kind::failed,
                     .text = loadFailureText(opened, e),
                     .progress = std::nullopt,
                     .file = opened});
        track(events::videoLoadFailed(file, e));
    });
}

void Model::startThumbnails(const std::filesystem::path& file, double duration) {
    thumbnailTask_.cancel();
    const std::uint64_t id = nextTaskId_++;
    thumbnailTask_.id = id;
    // Only the run for the video loaded now may fill the strip: the key
    // frames first, then as the exact images replace them in place.
    const auto fill = [this, id, file](const std::optional<QList<TimelineThumbnail>>& strip) {
        if (thumbnailTask_.id != id || url_ != file)
            return;
        if (strip) {
            thumbnails_ = *strip;
            changed(kThumbnails);
        } else {
            thumbnailTask_ = {}; // the run is over
        }
    };
    const QSize tile(thumbnailPixelSize_.width, thumbnailPixelSize_.height);
    const std::shared_ptr<YieldGate> gate = previewFirst_;
    thumbnailTask_.stop = threads_->start(
        [mailbox = mailbox_, file, duration, fill, tile, gate](std::stop_token stop) {
            try {
                generateThumbnails(
                    file, duration, stop, kThumbnailToleranceSeconds,
                    [&](const QList<TimelineThumbnail>& strip) {
                        mailbox->post([fill, strip] { fill(strip); });
                    },
                    tile, gate.get());
            } catch (const Cancelled&) {
                return;
            } catch (...) {
                // No thumbnails is not worth a word: the strip keeps what it
                // has shown.
            }
            mailbox->post([fill] { fill(std::nullopt); });
        });
}

} // namespace kavlo
