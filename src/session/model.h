// Model: the editing session of one window. It owns the loaded video, the
// trim selection, the two players (the looping preview and the scrub
// player), every background task, and the bookkeeping that maps the rendered
// preview back to source time. Views read its published state and call its
// operations; nothing else changes it.
//
// Threads: every public function is called on the UI thread, and all state
// lives there. Loads, renders and thumbnail runs work on threads of their
// own with the values they were given, and come back to the UI thread for
// every change; a result that arrives for a task that has since been
// replaced or cancelled is dropped. A Model may be destroyed at any time:
// its background work is stopped and its results go nowhere.
//
// Four task slots hold at most one task each (load, preview render,
// thumbnails, the delayed return to the preview after a shown frame);
// starting one cancels the one before. Exports are in no slot: no later
// operation cancels them, only the end of the session (the window asks
// before it closes over a running export).
//
// Notification: each published property has a NOTIFY signal emitted after
// it changed. Changes made by one operation are announced together when it
// returns, so a slot always reads a consistent state; selectionChanged()
// follows whenever start, end or duration changed.
#pragma once

#include "analytics/event_catalog.h"
#include "core/yield_gate.h"
#include "player/frame_source.h"
#include "player/pixel_size.h"
#include "player/player.h"
#include "render/presets.h"
#include "session/notice.h"
#include "session/preview_mapping.h"
#include "session/session_timers.h"
#include "timeline/timeline_types.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

class FilePanels;
class HeldFile;
class TaskThreads;
class UiMailbox;
struct LoadedVideo;
struct RenderResult;

// Everything the Model takes from its surroundings; tests pass fakes.
struct ModelEnvironment {
    std::unique_ptr<Player> player;                      // loops the preview
    std::unique_ptr<Player> scrubPlayer;                 // shows single source frames
    FilePanels* panels = nullptr;                        // not owned
    std::function<void(const UsageEvent&)> track;        // empty: AppAnalytics::shared()
    std::filesystem::path exampleVideo;                  // the bundled example; empty: none
    std::vector<std::filesystem::path> ffmpegCandidates; // empty: the default places
    std::filesystem::path tempDir;                       // empty: the system's temporary directory
    std::unique_ptr<SessionTimers> timers;               // empty: timers on the Qt event loop
};

class Model : public QObject {
    Q_OBJECT
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double start READ start NOTIFY startChanged)
    Q_PROPERTY(double end READ end NOTIFY endChanged)
    Q_PROPERTY(double playhead READ playhead NOTIFY playheadChanged)
    Q_PROPERTY(double videoAspect READ videoAspect NOTIFY videoAspectChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(double fps READ fps NOTIFY fpsChanged)
    Q_PROPERTY(double exportSpeed READ exportSpeed NOTIFY exportSpeedChanged)
    Q_PROPERTY(bool scrubOverlayVisible READ scrubOverlayVisible NOTIFY scrubOverlayVisibleChanged)

  public:
    static constexpr double kDefaultAspect = 16.0 / 9.0;

    explicit Model(ModelEnvironment environment, QObject* parent = nullptr);
    ~Model() override;

    // --- Published state ---

    // The file the players and the renderer read (the opened file or its
    // converted copy); none while no video is loaded.
    const std::optional<std::filesystem::path>& url() const { return url_; }
    double duration() const { return duration_; }
    double start() const { return start_; }
    double end() const { return end_; }
    double playhead() const { return playhead_; }
    double videoAspect() const { return videoAspect_; }
    const QString& status() const { return status_; }
    bool busy() const { return busy_; }
    double progress() const { return progress_; }
    double fps() const { return fps_; }
    const QList<TimelineThumbnail>& thumbnails() const { return thumbnails_; }
    double exportSpeed() const { return exportSpeed_; }
    bool scrubOverlayVisible() const { return scrubOverlayVisible_; }
    // What the window's notice says. While exports run it speaks of them
    // alone, until the last of them ends with its outcome.
    const Notice& notice() const { return notice_; }

    // The two picture sources the window draws (owned by the players).
    FrameSource* previewPictures() const;
    FrameSource* scrubPictures() const;

    // The speed control's setter; the control then logs the change and
    // calls prepareSmoothPreview().
    void setExportSpeed(double speed);
    // The video area's size in device pixels. Previews are rendered no
    // larger than it; when it outgrows the preview (preview_area.h), the
    // preview is rendered again, kPreviewResizeDelay after the last change.
    void setPreviewPixelSize(PixelSize size);
    PixelSize previewPixelSize() const { return previewPixelSize_; }
    // One tile of the timeline's strip in device pixels: thumbnails of the
    // next load are made at exactly that size. Empty: fitted into 160x90.
    void setThumbnailPixelSize(PixelSize size) { thumbnailPixelSize_ = size; }
    // Exports started and not yet finished; quitting should ask first.
    int runningExports() const { return runningExports_; }

    // --- Operations ---

    // The open panel, then a load of the chosen file.
    void chooseVideo();
    // Loads the bundled example video, when there is one.
    void loadExampleVideo();
    void loadVideo(const std::filesystem::path& file, VideoLoadSource source);
    // Stops the running load (and its conversion); the window is left
    // without a video.
    void cancelLoad();
    void trim(TrimHandle handle, double time, bool dragging);
    void moveLoop(double start, bool dragging);
    void markFrame();
    void prepareSmoothPreview();
    // The save panel, then the render of the selection in the background.
    // No later operation cancels an export; several may run at once.
    void exportMP4(int loops);
    void exportGIF();
    // The same for a preset of sessionPresets() (export_presets.h): its
    // format, within its budget and limits. An unknown name does nothing.
    void exportPreset(const std::string& name);
    // An animated WebP: one cycle that repeats forever, as the GIF.
    void exportWebP();
    // A WebM (VP9, with the source's sound in Opus), loops cycles long.
    void exportWebM(int loops);

    // --- Internal state, read by tests and diagnostics ---

    // The last successful preview render, with what it was rendered from.
    struct PreparedPreview {
        std::optional<std::filesystem::path> file;
        int sourceFrames = 2;
        double trimStart = 0;
        double speed = 1.0;
        // Rendered smaller than the source to fit its area.
        bool reduced = false;
    };
    const PreparedPreview& preparedPreview() const { return prepared_; }
    // The handle being scrubbed; none while the preview is in charge.
    std::optional<TrimHandle> scrubbing() const { return scrubbing_; }
    std::uint64_t previewRevealGeneration() const { return previewRevealGeneration_; }
    // The preview time that shows source time t in the player in charge.
    double previewTime(double t) const;

  signals:
    void urlChanged();
    void durationChanged();
    void startChanged();
    void endChanged();
    void playheadChanged();
    void videoAspectChanged();
    void statusChanged();
    void busyChanged();
    void progressChanged();
    void fpsChanged();
    void thumbnailsChanged();
    void exportSpeedChanged();
    void scrubOverlayVisibleChanged();
    void noticeChanged();
    // After start, end and duration all hold their new values.
    void selectionChanged();
    // An export ended: `file` is written when `ok`.
    void exportFinished(const std::filesystem::path& file, bool ok);

  private:
    // One bit per published property, in declaration order.
    enum Field : std::uint32_t {
        kUrl = 1u << 0,
        kDuration = 1u << 1,
        kStart = 1u << 2,
        kEnd = 1u << 3,
        kPlayhead = 1u << 4,
        kVideoAspect = 1u << 5,
        kStatus = 1u << 6,
        kBusy = 1u << 7,
        kProgress = 1u << 8,
        kFps = 1u << 9,
        kThumbnails = 1u << 10,
        kExportSpeed = 1u << 11,
        kScrubOverlay = 1u << 12,
        kNotice = 1u << 13,
    };
    // Holds notifications back until the outermost batch ends.
    class Batch {
      public:
        explicit Batch(Model& model) : model_(model) { ++model_.batchDepth_; }
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

      private:
        Model& model_;
    };
    // A background task slot: the running task's stop source and its number,
    // which its results carry back to be recognised as current.
    struct TaskSlot {
        std::stop_source stop;
        std::uint64_t id = 0; // 0: empty
        void cancel();
    };
    struct MarkCycle {
        int phase = 1;
        double start = 0;
        double end = 0;
    };

    template <typename T> void set(T& field, T value, Field bit) {
        if (field == value)
            return;
        field = std::move(value);
        changed(bit);
    }
    void changed(Field bit);
    void flush();
    void track(const UsageEvent& event);

    // Selection helpers on the current start, end, duration and fps.
    void setStart(double t);
    void setEnd(double t);
    int frameIndex(double t) const;
    double timeForFrame(int i) const;
    void setPlayhead(double t) { set(playhead_, t, kPlayhead); }
    void setStatus(const QString& text) { set(status_, text, kStatus); }
    void setBusy(bool busy) { set(busy_, busy, kBusy); }
    void setProgress(double progress) { set(progress_, progress, kProgress); }
    void setOverlay(bool visible) { set(scrubOverlayVisible_, visible, kScrubOverlay); }
    // Busy while a preview renders or an export runs.
    void updateBusy();
    // The notice of the load, the preview or a mark; shown unless exports run.
    void setActivity(Notice notice);
    void updateNotice();

    // Reset before a new load; stopping the preview.
    void reset();
    void stopPlayers();

    // Playback and scrubbing.
    void setPlayerItem(const std::filesystem::path& file);
    void beginScrub(TrimHandle handle);
    void seekDisplayed(double t);
    void showFrame(double t);
    void installPreparedPreview();
    void revealRound(std::uint64_t generation, int round);
    void followPlayer(double playerTime);
    void cancelFrameResume();
    void endDrag();
    void mark(const QString& text);
    PreviewMapping mapping() const;

    // The preview render: what one was started with.
    struct PreviewJob {
        std::uint64_t id = 0;
        std::filesystem::path source;
        std::filesystem::path output;
        double trimStart = 0;
        double trimEnd = 0;
        double speed = 1;
        PixelSize area; // empty: no limit
    };
    void previewRendered(const PreviewJob& job, const RenderResult& result,
                         const std::shared_ptr<HeldFile>& held);
    void previewFailed(const PreviewJob& job, std::exception_ptr error);
    void cancelRender();
    void deleteUnusedPreviews();
    std::filesystem::path newTemporaryFile(const char* role) const;

    // The load and the thumbnails.
    void loadFinished(std::uint64_t id, const LoadedVideo& video);
    void loadFailed(std::uint64_t id, const std::filesystem::path& opened,
                    const AnalyticsProperties& file, std::exception_ptr error);
    void startThumbnails(const std::filesystem::path& file, double duration);

    // Exports: what one was started with.
    struct ExportJob {
        ExportFormat format = ExportFormat::mp4;
        int loops = 1;
        std::filesystem::path source;
        std::filesystem::path output;
        double trimStart = 0;
        double trimEnd = 0;
        double speed = 1;
        std::chrono::steady_clock::time_point started;
        std::optional<ExportPreset> preset;
        std::uint64_t id = 0;
        ExportDescription description() const;
    };
    struct ExportRun {
        ExportFormat format = ExportFormat::mp4;
        double progress = 0;
    };
    void startExport(ExportFormat format, int loops, const ExportPreset* preset = nullptr);
    void exportProgressed(std::uint64_t id, double fraction);
    void exportEnded(const ExportJob& job, std::exception_ptr error);

    std::unique_ptr<Player> player_;
    std::unique_ptr<Player> scrubPlayer_;
    FilePanels* panels_;
    std::function<void(const UsageEvent&)> track_;
    std::filesystem::path exampleVideo_;
    std::vector<std::filesystem::path> ffmpegCandidates_;
    std::filesystem::path tempDir_;
    std::unique_ptr<SessionTimers> timers_;

    // Published.
    std::optional<std::filesystem::path> url_;
    double duration_ = 1.0;
    double start_ = 0;
    double end_ = 1.0;
    double playhead_ = 0;
    double videoAspect_ = kDefaultAspect;
    QString status_;
    bool busy_ = false;
    double progress_ = 0;
    double fps_ = 30;
    QList<TimelineThumbnail> thumbnails_;
    double exportSpeed_ = 1.0;
    bool scrubOverlayVisible_ = false;

    // Internal.
    TaskSlot loadTask_;
    TaskSlot renderTask_;
    TaskSlot thumbnailTask_;
    // Held by preview renders and exports; the thumbnails' exact images
    // wait at it.
    std::shared_ptr<YieldGate> previewFirst_ = std::make_shared<YieldGate>();
    std::optional<std::uint64_t> frameResumeTask_; // a timer id
    std::uint64_t nextTaskId_ = 1;
    PreparedPreview prepared_;
    std::optional<std::filesystem::path> installedPreview_; // the file `player_` loops
    std::optional<std::filesystem::path> renderOutput_;     // of the render in renderTask_
    // Every preview file this session named and has not deleted or left to
    // a cancelled render to delete; held once rendered.
    std::map<std::filesystem::path, std::shared_ptr<HeldFile>> previewFiles_;
    std::shared_ptr<const HeldFile> transcodedSource_;
    std::optional<std::filesystem::path> originalSource_;
    std::optional<MarkCycle> markCycle_;
    Player::ObserverId timeObserver_ = 0;
    std::optional<TrimHandle> scrubbing_;
    std::uint64_t previewRevealGeneration_ = 0;
    PixelSize previewPixelSize_;
    PixelSize thumbnailPixelSize_;
    PixelSize renderArea_;                          // the area the newest preview render was given
    std::optional<std::uint64_t> resizeRenderTask_; // a timer id
    int runningExports_ = 0;
    std::map<std::uint64_t, ExportRun> exports_;
    // How the exports running together ended so far: a failure outweighs a
    // later success. Shown when the last of them ends.
    std::optional<Notice> exportOutcome_;
    Notice activity_;
    Notice notice_;

    std::uint32_t pending_ = 0;
    int batchDepth_ = 0;

    // Declared last: destroyed first, so no task outlives what it reports to.
    std::shared_ptr<UiMailbox> mailbox_;
    std::unique_ptr<TaskThreads> threads_;
};

} // namespace kavlo
