// preview-bench: how long a user waits for the preview after letting go of
// the selection, for a 1-second selection of camera-like sources (H.264 with
// stereo sound, key frames 2 s apart).
//
//   QT_QPA_PLATFORM=offscreen preview-bench [--runs N] [--work DIR] [--skip-4k | --only-4k]
//
// For each video area (a new window's at 2x and 1x, and no limit) two
// figures: the preview render alone (renderPingPongVideo with the preview's
// options), and the whole wait in the app, from the release to the first
// frame of the new preview reaching the view, with the app's Model and
// players. Beside them the reference, the same render at export settings
// and full size, and the wait's share of it. Renders run at the app's
// priority for them. Under each line, what the UI thread's longest stall
// was spent on (bench/support/ui_stalls.h), beside the floor: the longest
// wait of a process that only sleeps, on the same machine at the same
// time. Sources are made once into DIR (default /tmp/kavlo-bench, shared
// with render_bench).
#include "bench_support.h"
#include "core/thread_priority.h"
#include "media/error.h"
#include "media/library_log.h"
#include "release_latency.h"
#include "render/render_video.h"
#include "ui_stalls.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace kavlo;
namespace fs = std::filesystem;

struct Area {
    const char* name;
    PixelSize size;
};

// The video area of a new window (760 points wide, 16:9) in device pixels,
// and no limit.
constexpr Area kAreas[] = {
    {"window 2x (1448x814)", {1448, 814}},
    {"window 1x (724x407)", {724, 407}},
    {"full size", {}},
};

constexpr double kGoalSeconds = 0.5;
// The longest the window's event loop may be kept from its work.
constexpr double kStallLimitMs = 16;

RenderOptions previewOptions(PixelSize area) {
    RenderOptions options;
    options.video = H264Settings::forPreview();
    options.fitWithin = {area.width, area.height};
    options.rateAsAtFullSize = true;
    return options;
}

// `shareLimit`: the most the release's wait may be of the reference.
void figures(const fs::path& source, const char* label, double start, double shareLimit, int runs,
             const fs::path& work) {
    const fs::path output = work / "preview-bench.mp4";
    // At the app's priority for renders, on a thread as there: on a busy
    // machine a nice 5 render takes longer than one at the default.
    auto render = [&](const RenderOptions& options) {
        return bench::bestOf(runs, [&] {
            std::thread([&] {
                setThisThreadNice(kWorkNice);
                renderPingPongVideo(source, output, start, start + 1.0, 1.0, 1, nullptr, {},
                                    options);
            }).join();
        });
    };
    const double reference = render({});
    for (const Area& area : kAreas) {
        const double alone = render(previewOptions(area.size));
        const bench::ReleaseFigures app =
            bench::releaseToFirstFrame(source, start, area.size, runs, work);
        const double share = app.wait / reference;
        std::printf("%-13s %5.1f  %-21s %8.3f %10.3f %10.3f %6.3f  %-4s %-4s %7.1f  %s\n", label,
                    start, area.name, alone, app.wait, reference, share,
                    app.wait <= kGoalSeconds ? "ok" : "OVER", share <= shareLimit ? "ok" : "OVER",
                    app.longestStall, app.longestStall <= kStallLimitMs ? "ok" : "OVER");
        std::printf("    longest stall %s\n", app.stallCause.c_str());
        std::printf("    longest event %s\n", app.longestEvent.c_str());
        label = "";
    }
}

} // namespace

int main(int argc, char** argv) {
    bench::TracedApplication<QGuiApplication> app(argc, argv);
    int runs = 3;
    bool uhd = true;
    bool hdOnes = true;
    fs::path work = "/tmp/kavlo-bench";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--skip-4k")
            uhd = false;
        else if (arg == "--only-4k")
            hdOnes = false;
        else if (arg == "--work" && i + 1 < argc)
            work = argv[++i];
    }
    limitLibraryLogToErrors();
    returnLargeBuffersToTheSystem(); // as the application does
    fs::create_directories(work);
    const fs::path hd = work / "source-1080p30.mp4";
    bench::makeCameraClip(hd, "1920x1080", 30, 6);
    const fs::path uhdSource = work / "source-2160p60.mp4";
    if (uhd)
        bench::makeCameraClip(uhdSource, "3840x2160", 60, 5);

    const H264Settings preview = H264Settings::forPreview();
    const H264Settings exported = H264Settings::forExport();
    std::printf("Preview of a 1-second selection: the render alone, and the wait in the app from\n"
                "the release to the first frame of the new preview on screen (goal %.1f s for\n"
                "1080p30); preview x264 %s CRF %g fitted to the area, reference at export\n"
                "settings (%s CRF %g) and full size; best of %d, seconds. \"share\": release /\n"
                "reference (limit 0.2 at 1080p, 0.15 at 2160p). \"stall\": the longest\n"
                "the UI thread was kept from a 1 ms timer from the load through its thumbnails,\n"
                "the previews and an MP4 export (limit %.0f ms)\n\n",
                kGoalSeconds, preview.preset.c_str(), preview.crf, exported.preset.c_str(),
                exported.crf, runs, kStallLimitMs);
    std::printf("%-13s %5s  %-21s %8s %10s %10s %6s  %-4s %-4s %7s\n", "source", "start", "area",
                "render", "release", "reference", "share", "", "", "stall");
    // 0.5 s and 1.9 s after a key frame, where decoding starts.
    if (hdOnes) {
        figures(hd, "1920x1080 30", 2.5, 0.2, runs, work);
        figures(hd, "", 3.9, 0.2, runs, work);
    }
    if (uhd)
        figures(uhdSource, "3840x2160 60", 2.5, 0.15, runs, work);
    return 0;
}
