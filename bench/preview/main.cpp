// preview-bench: how long a user waits for the preview after letting go of a
// trim handle, for a 1-second selection of camera-like sources (H.264 with
// stereo sound, key frames 2 s apart).
//
//   preview-bench [--runs N] [--work DIR] [--skip-4k]
//
// The render: renderPingPongVideo with the preview's options, fitted to a
// new window's video area (724x407 points at 1x and 2x) and at full size,
// beside the reference, the same render at export settings. Sources are
// made once into DIR (default /tmp/kavlo-bench, shared with render_bench).
#include "bench_support.h"
#include "render/render_video.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

using namespace kavlo;
namespace fs = std::filesystem;

struct Area {
    const char* name;
    RenderSize size;
};

// The video area of a new window (760 points wide, 16:9) in device pixels,
// and no limit.
constexpr Area kAreas[] = {
    {"window 2x (1448x814)", {1448, 814}},
    {"window 1x (724x407)", {724, 407}},
    {"full size", {}},
};

void renderFigures(const fs::path& source, const char* label, double start, int runs,
                   const fs::path& work) {
    const fs::path output = work / "preview-bench.mp4";
    auto render = [&](const RenderOptions& options) {
        return bench::bestOf(runs, [&] {
            renderPingPongVideo(source, output, start, start + 1.0, 1.0, 1, nullptr, {}, options);
        });
    };
    const double reference = render({});
    for (const Area& area : kAreas) {
        const double preview = render({H264Settings::forPreview(), area.size});
        std::printf("%-16s %6.1f  %-22s %9.3f %12.3f %7.2f\n", label, start, area.name, preview,
                    reference, preview / reference);
        label = "";
    }
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool uhd = true;
    fs::path work = "/tmp/kavlo-bench";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--skip-4k")
            uhd = false;
        else if (arg == "--work" && i + 1 < argc)
            work = argv[++i];
    }
    av_log_set_level(AV_LOG_ERROR);
    fs::create_directories(work);
    const fs::path hd = work / "source-1080p30.mp4";
    bench::makeCameraClip(hd, "1920x1080", 30, 6);
    const fs::path uhdSource = work / "source-2160p60.mp4";
    if (uhd)
        bench::makeCameraClip(uhdSource, "3840x2160", 60, 5);

    const H264Settings preview = H264Settings::forPreview();
    const H264Settings exported = H264Settings::forExport();
    std::printf("Preview render of a 1-second selection, from the call to the complete file\n");
    std::printf("preview: x264 %s CRF %g, fitted to the area; reference: export settings (%s CRF "
                "%g) at full size; best of %d\n\n",
                preview.preset.c_str(), preview.crf, exported.preset.c_str(), exported.crf, runs);
    std::printf("%-16s %6s  %-22s %9s %12s %7s\n", "source", "start", "area", "preview",
                "reference", "ratio");
    // 0.5 s and 1.9 s after a key frame: the decoder starts at the key frame.
    renderFigures(hd, "1920x1080 30", 2.5, runs, work);
    renderFigures(hd, "", 3.9, runs, work);
    if (uhd)
        renderFigures(uhdSource, "3840x2160 60", 2.5, runs, work);
    return 0;
}
