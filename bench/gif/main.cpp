// GIF benchmark: one 50-picture ping-pong cycle of three generated 1080p
// sources (smooth gradient motion; a test pattern; a 4:4:4 screen recording
// of small red and blue text on white), written by Kavlo and by
// the ffmpeg command line's two-pass palettegen + paletteuse, side by side:
// mean SSIM of the decoded GIF pictures against the source frames they show,
// file size and wall time.
//
//   bench_gif [--workdir DIR] [--source gradient|pattern|screen] [--runs N] [--no-reference]
//             [--palette shared|per-frame] [--dither X] [--speed N] [--learn N]
//             [--threads N] [--keep N]
//
// The sources (30 frames, H.264 CRF 12, BT.709) are generated into the work
// directory (default /tmp/kavlo-bench-gif) on the first run and reused. The
// palette options override Kavlo's defaults to compare settings. The command
// line runs, with G the cycle graph below:
//   ffmpeg -i SRC -vf "G,palettegen" palette.png
//   ffmpeg -i SRC -i palette.png -lavfi "[0:v]G[x];[x][1:v]paletteuse" out.gif
// With --runs N each encoder runs N times and the median time is reported.
// CPU time counts the benchmark process and the ffmpeg processes it ran; it
// is steadier than wall time on a busy machine.
#include "media/colour.h"
#include "media/error.h"
#include "media/input_file.h"
#include "media/picture.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "ssim.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace kavlo;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 30; // one second at 30 fps

struct Source {
    std::string name;
    std::string lavfi;
    std::string pixelFormat = "yuv420p";
};

// A screen recording: small red and blue text on white, one line of it
// scrolling, kept in 4:4:4 as screen recorders do.
const std::string kFont = "fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kScreen = "color=c=white:s=1920x1080:r=30,format=yuv444p,"
                            "drawtext=" +
                            kFont +
                            ":fontcolor=red:fontsize=18:line_spacing=8:x=40:y=60:"
                            "text='Kavlo turns a short stretch of a video into a ping-pong loop.\n"
                            "The selected segment plays forward, then backward, repeated.\n"
                            "It is saved as an MP4 whose sound follows the picture, or as a GIF.',"
                            "drawtext=" +
                            kFont +
                            ":fontcolor=blue:fontsize=24:x=40+mod(t*300\\,1200):y=400:"
                            "text='Scrolling line of blue text',"
                            "drawgrid=w=160:h=90:t=1:c=red@1";

const Source kSources[] = {
    {"gradient", "gradients=s=1920x1080:r=30:n=4:speed=0.02:seed=7"},
    {"pattern", "testsrc2=s=1920x1080:r=30"},
    {"screen", kScreen, "yuv444p"},
};

fs::path sourceFile(const fs::path& dir, const Source& source) {
    const fs::path path = dir / (source.name + ".mp4");
    if (!fs::exists(path)) {
        std::fprintf(stderr, "generating %s\n", path.c_str());
        test::runFfmpeg({"-f",
                         "lavfi",
                         "-i",
                         source.lavfi,
                         "-frames:v",
                         std::to_string(kFrames),
                         "-c:v",
                         "libx264",
                         "-preset",
                         "medium",
                         "-crf",
                         "12",
                         "-pix_fmt",
                         source.pixelFormat,
                         "-colorspace",
                         "bt709",
                         "-color_primaries",
                         "bt709",
                         "-color_trc",
                         "bt709",
                         path.string() + ".part.mp4"});
        fs::rename(path.string() + ".part.mp4", path);
    }
    return path;
}

// The source frames the cycle shows, in order, as RGB.
std::vector<test::RgbPicture> referencePictures(const fs::path& path) {
    InputFile file(path.string());
    // At the source's full colour resolution, as the GIF is made.
    std::vector<Picture> frames = readSegmentFrames(file, 0.0, 1.0, 30.0, kWidth, kHeight, nullptr,
                                                    1.0, {}, /*fullChroma=*/true);
    BgraConverter converter;
    std::vector<uint8_t> bgra(std::size_t(kWidth) * kHeight * 4);
    std::vector<test::RgbPicture> pictures;
    for (int index : pingPongIndexSequence(int(frames.size()), 1)) {
        converter.convert(frames[index], bgra.data(), kWidth * 4);
        pictures.push_back(test::RgbPicture::fromBgra(bgra.data(), kWidth, kHeight));
    }
    return pictures;
}

// The cycle as a filter graph: frames 2...26 forward, then 27 down to 3.
const char* kCycleGraph = "split[a][b];[a]trim=start_frame=2:end_frame=27[f];"
                          "[b]trim=start_frame=3:end_frame=28,reverse[r];"
                          "[f][r]concat=n=2:v=1:a=0,setpts=N/30/TB";

void commandLineGif(const fs::path& source, const fs::path& output) {
    const fs::path palette = output.string() + ".palette.png";
    test::runFfmpeg(
        {"-i", source.string(), "-vf", std::string(kCycleGraph) + ",palettegen", palette.string()});
    test::runFfmpeg({"-i", source.string(), "-i", palette.string(), "-lavfi",
                     "[0:v]" + std::string(kCycleGraph) + "[x];[x][1:v]paletteuse",
                     output.string()});
    fs::remove(palette);
}

struct Figures {
    double meanSsim = 0, minSsim = 1;
    std::size_t pictures = 0;
    double megabytes = 0;
    double seconds = 0;
    double cpuSeconds = 0; // this process and the ffmpeg processes it waited for
};

double cpuSecondsSoFar() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& t : {usage.ru_utime, usage.ru_stime})
            total += double(t.tv_sec) + double(t.tv_usec) / 1e6;
    }
    return total;
}

Figures measure(const std::function<void()>& encode, const fs::path& output, int runs,
                const std::vector<test::RgbPicture>& reference) {
    std::vector<double> times, cpuTimes;
    for (int run = 0; run < runs; ++run) {
        const auto started = std::chrono::steady_clock::now();
        const double cpuStarted = cpuSecondsSoFar();
        encode();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        cpuTimes.push_back(cpuSecondsSoFar() - cpuStarted);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    Figures f;
    f.seconds = times[times.size() / 2];
    f.cpuSeconds = cpuTimes[cpuTimes.size() / 2];
    f.megabytes = double(fs::file_size(output)) / 1e6;
    const std::vector<test::RgbPicture> decoded = test::decodeGif(output);
    f.pictures = decoded.size();
    if (decoded.size() != reference.size()) {
        std::fprintf(stderr, "%s: %zu pictures, expected %zu\n", output.c_str(), decoded.size(),
                     reference.size());
        f.meanSsim = f.minSsim = 0;
        return f;
    }
    double sum = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const double s = bench::ssim(decoded[i], reference[i]);
        sum += s;
        f.minSsim = std::min(f.minSsim, s);
    }
    f.meanSsim = sum / double(decoded.size());
    return f;
}

void printRow(const std::string& source, const std::string& encoder, const Figures& f) {
    std::printf("%-9s %-32s %8zu %10.4f %10.4f %9.2f %8.2f %8.2f\n", source.c_str(),
                encoder.c_str(), f.pictures, f.meanSsim, f.minSsim, f.megabytes, f.seconds,
                f.cpuSeconds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    quietMediaLogging();
    returnLargeBuffersToTheSystem(); // as the application and kavlo-render do
    fs::path workdir = fs::temp_directory_path() / "kavlo-bench-gif";
    std::string only;
    int runs = 1;
    bool reference = true;
    GifRenderOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--no-reference") {
            reference = false;
            continue;
        }
        if (!value) {
            std::fprintf(stderr, "bench_gif: bad argument %s\n", arg.c_str());
            return 2;
        }
        ++i;
        if (arg == "--workdir")
            workdir = value;
        else if (arg == "--source")
            only = value;
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(value));
        else if (arg == "--palette")
            options.colour.sharedPalette = std::strcmp(value, "per-frame") != 0;
        else if (arg == "--dither")
            options.colour.dithering = float(std::atof(value));
        else if (arg == "--speed")
            options.colour.speed = std::atoi(value);
        else if (arg == "--threads")
            options.threads = std::atoi(value);
        else if (arg == "--learn")
            options.colour.learnedPictures = std::atoi(value);
        else if (arg == "--keep")
            options.colour.keepDistance = std::atoi(value);
        else {
            std::fprintf(stderr, "bench_gif: bad argument %s\n", arg.c_str());
            return 2;
        }
    }
    fs::create_directories(workdir);

    const std::string kavloName = std::string("kavlo (") +
                                  (options.colour.sharedPalette ? "shared" : "per-frame") + ", d" +
                                  std::to_string(options.colour.dithering).substr(0, 4) + ", s" +
                                  std::to_string(options.colour.speed) + ", l" +
                                  std::to_string(options.colour.learnedPictures) + ", k" +
                                  std::to_string(options.colour.keepDistance) + ")";
    std::printf("%-9s %-32s %8s %10s %10s %9s %8s %8s\n", "source", "encoder", "pictures",
                "mean SSIM", "min SSIM", "size MB", "time s", "CPU s");
    for (const Source& source : kSources) {
        if (!only.empty() && only != source.name)
            continue;
        const fs::path input = sourceFile(workdir, source);
        const std::vector<test::RgbPicture> pictures = referencePictures(input);

        const fs::path ours = workdir / (source.name + "-kavlo.gif");
        const Figures kavlo =
            measure([&] { renderPingPongGIF(input, ours, 0.0, 1.0, 1.0, nullptr, {}, options); },
                    ours, runs, pictures);
        printRow(source.name, kavloName, kavlo);
        if (reference) {
            const fs::path theirs = workdir / (source.name + "-ffmpeg.gif");
            const Figures ffmpeg =
                measure([&] { commandLineGif(input, theirs); }, theirs, runs, pictures);
            printRow(source.name, "ffmpeg palettegen+use", ffmpeg);
            // The goal: at least 5 % smaller at no lower mean SSIM, in no more time.
            std::printf("%-9s kavlo/ffmpeg: size %.3f (goal <= 0.95), SSIM %+.4f (goal >= 0), "
                        "time %.2f, CPU %.2f (goal <= 1)\n",
                        source.name.c_str(), kavlo.megabytes / ffmpeg.megabytes,
                        kavlo.meanSsim - ffmpeg.meanSsim, kavlo.seconds / ffmpeg.seconds,
                        kavlo.cpuSeconds / ffmpeg.cpuSeconds);
        }
    }
    return 0;
}
