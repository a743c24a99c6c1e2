// HDR benchmark: Kavlo's tone mapping beside ffmpeg's zscale + tonemap
// (hable) on generated HLG and PQ clips, and an SDR clip that must pass
// untouched. For each clip it prints the mean SSIM and the mean and largest
// per-picture colour error (mean absolute difference of 8-bit samples) of
// the renderer's pictures against the command line's.
//
//   bench_hdr [--workdir DIR] [--size WxH] [--frames N]
//
// Clips are made from lavfi's testsrc2 (colour bars, text, a gradient,
// motion) into the work directory (default /tmp/kavlo-bench-hdr).
#include "media/colour.h"
#include "media/input_file.h"
#include "media/library_log.h"
#include "render/frame_reader.h"
#include "ssim.h"
#include "support/test_hdr.h"
#include "support/test_media.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;
using namespace kavlo;

namespace {

// The renderer's pictures of the clip's first `frames` frames, as RGB.
std::vector<test::RgbPicture> renderedPictures(const fs::path& clip, int frames) {
    InputFile file(clip.string());
    const RenderSize size = computeRenderSize(*file.info().video);
    const double rate = samplingFrameRate(file.info().video->nominalFrameRate());
    const std::vector<Picture> pictures =
        readSegmentFrames(file, 0.0, frames / rate, rate, size.width, size.height, nullptr, 1.0);
    BgraConverter converter;
    std::vector<uint8_t> bgra(std::size_t(size.width) * size.height * 4);
    std::vector<test::RgbPicture> out;
    for (const Picture& picture : pictures) {
        converter.convert(picture, bgra.data(), size.width * 4);
        out.push_back(test::RgbPicture::fromBgra(bgra.data(), size.width, size.height));
    }
    return out;
}

void compare(const char* name, const std::vector<test::RgbPicture>& ours,
             const std::vector<test::RgbPicture>& theirs) {
    const std::size_t n = std::min(ours.size(), theirs.size());
    if (n == 0) {
        std::printf("%-6s no pictures (%zu ours, %zu ffmpeg)\n", name, ours.size(), theirs.size());
        return;
    }
    double ssimSum = 0, errorSum = 0, worst = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ssimSum += bench::ssim(ours[i], theirs[i]);
        const double error = test::meanAbsoluteDifference(ours[i], theirs[i]);
        errorSum += error;
        worst = std::max(worst, error);
    }
    std::printf("%-6s %8zu %10.4f %12.2f %12.2f\n", name, n, ssimSum / double(n),
                errorSum / double(n), worst);
}

} // namespace

int main(int argc, char** argv) {
    limitLibraryLogToErrors();
    fs::path workdir = fs::temp_directory_path() / "kavlo-bench-hdr";
    std::string size = "1280x720";
    int frames = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--workdir")
            workdir = argv[i + 1];
        else if (arg == "--size")
            size = argv[i + 1];
        else if (arg == "--frames")
            frames = std::max(1, std::atoi(argv[i + 1]));
        else {
            std::fprintf(stderr, "bench_hdr: bad argument %s\n", arg.c_str());
            return 2;
        }
    }
    fs::create_directories(workdir);
    const std::string source = "testsrc2=s=" + size + ":r=30";

    std::printf("%-6s %8s %10s %12s %12s\n", "clip", "pictures", "mean SSIM", "mean error",
                "worst error");
    for (const auto& [name, transfer] :
         {std::pair{"PQ", test::HdrTransfer::pq}, std::pair{"HLG", test::HdrTransfer::hlg}}) {
        const fs::path clip =
            test::makeHdrClip(workdir / (std::string(name) + ".mov"), transfer, source, frames);
        compare(name, renderedPictures(clip, frames),
                test::toneMappedByFfmpeg(clip, frames, workdir / "reference.rgb"));
    }
    // SDR passes untouched: the same pictures as ffmpeg's plain conversion.
    const fs::path sdr = workdir / "SDR.mp4";
    test::runFfmpeg({"-f", "lavfi", "-i", source, "-frames:v", std::to_string(frames), "-vf",
                     "setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709", "-c:v",
                     "libx264", "-crf", "8", "-pix_fmt", "yuv420p", sdr.string()});
    test::runFfmpeg({"-i", sdr.string(), "-vf",
                     "scale=in_color_matrix=bt709:in_range=tv,format=rgb24", "-f", "rawvideo",
                     (workdir / "reference.rgb").string()});
    std::vector<test::RgbPicture> plain;
    {
        std::FILE* in = std::fopen((workdir / "reference.rgb").c_str(), "rb");
        const test::RgbPicture first = renderedPictures(sdr, 1).front();
        std::vector<uint8_t> buffer(first.rgb.size());
        while (in && std::fread(buffer.data(), 1, buffer.size(), in) == buffer.size())
            plain.push_back({first.width, first.height, buffer});
        if (in)
            std::fclose(in);
    }
    compare("SDR", renderedPictures(sdr, frames), plain);
    return 0;
}
