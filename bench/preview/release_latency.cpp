#include "release_latency.h"

#include "media/input_file.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "session/file_panels.h"
#include "session/model.h"
#include "ui_stalls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kavlo::bench {

namespace {

// Runs the event loop until `done` holds; exits the program after five
// minutes (a 2160p export on a busy machine takes more than one).
template <typename Pred> void waitFor(Pred done, const char* what) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake; // the loop looks at the condition at least this often
    wake.start(2);
    while (!done()) {
        if (elapsed.elapsed() > 300000) {
            std::fprintf(stderr, "timed out waiting for %s\n", what);
            std::exit(1);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// Moves the selection to `start` as a drag would, and lets go. Returns when
// the new preview's first frame reached the view, the seconds since the
// release.
double dragAndRelease(Model& model, double start) {
    const auto before = model.preparedPreview().file;
    FrameSource* pictures = model.previewPictures();
    QElapsedTimer sinceRelease;
    double firstFrame = -1;
    const auto connection = QObject::connect(pictures, &FrameSource::frameChanged, [&] {
        if (firstFrame < 0 && sinceRelease.isValid() && model.preparedPreview().file != before &&
            !pictures->currentImage().isNull())
            firstFrame = sinceRelease.nsecsElapsed() / 1e9;
    });
    model.moveLoop(start, true);
    model.moveLoop(start, false);
    sinceRelease.start();
    waitFor([&] { return firstFrame >= 0; }, "the new preview");
    QObject::disconnect(connection);
    // Until the reveal is over and nothing runs in the background.
    waitFor([&] { return !model.busy() && !model.scrubOverlayVisible(); }, "the reveal");
    return firstFrame;
}

// The save panel, answered at once with a file in `folder`.
class SavePanel : public FilePanels {
  public:
    explicit SavePanel(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::optional<std::filesystem::path> chooseVideoFile() override { return std::nullopt; }
    std::optional<std::filesystem::path>
    chooseSaveLocation(const QString& name, const std::optional<std::filesystem::path>&,
                       ExportFormat) override {
        return folder_ / name.toStdString();
    }

  private:
    std::filesystem::path folder_;
};

} // namespace

ReleaseFigures releaseToFirstFrame(const std::filesystem::path& source, double start,
                                   PixelSize area, int runs, const std::filesystem::path& tempDir) {
    SavePanel panel(tempDir);
    ModelEnvironment environment;
    environment.panels = &panel;
    environment.player = std::make_unique<PreviewPlayer>();
    environment.scrubPlayer = std::make_unique<ScrubPlayer>();
    environment.track = [](const UsageEvent&) {};
    environment.tempDir = tempDir;
    Model model(std::move(environment));
    // What the window's video views report: the area, or the picture's own
    // size when no limit is set.
    PixelSize view = area;
    if (view.isEmpty()) {
        const auto& video = probeMedia(source.string()).video;
        view = {int(video->uprightWidth()), int(video->uprightHeight())};
    }
    model.previewPictures()->setViewSize(view);
    model.scrubPictures()->setViewSize(view);
    model.setPreviewPixelSize(area);
    UiStallWatch stalls;
    model.loadVideo(source, VideoLoadSource::picker);
    waitFor([&] { return model.url() && !model.busy() && model.preparedPreview().file; },
            "the first preview");

    ReleaseFigures figures{1e9, 0, {}, {}};
    for (int i = 0; i < runs; ++i) {
        // Somewhere else first, so each measured release renders anew.
        dragAndRelease(model, start > 1.0 ? 0.5 : start + 1.0);
        figures.wait = std::min(figures.wait, dragAndRelease(model, start));
    }
    model.exportMP4(1);
    waitFor([&] { return model.runningExports() == 0 && !model.busy(); }, "the export");
    figures.longestStall = stalls.longestMs();
    figures.stallCause = stalls.longestCause();
    figures.longestEvent = stalls.longestEvent();
    return figures;
}

} // namespace kavlo::bench
