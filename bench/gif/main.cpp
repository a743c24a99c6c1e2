// GIF benchmark: one 50-picture ping-pong cycle of generated sources, written
// by Kavlo, by the ffmpeg command line's two-pass palettegen + paletteuse and
// by gifski, side by side: mean SSIM of the decoded GIF pictures against the
// source frames they show, file size and wall time.
//
//   bench_gif [--workdir DIR] [--source NAME[,NAME...]] [--runs N] [--no-reference]
//             [--no-gifski] [--gifski-quality Q] [--palette shared|per-frame]
//             [--dither X] [--speed N] [--learn N] [--threads N] [--keep N] [--hold N]
//             [--grain-hold X]
//
// Sources (30 frames, H.264 CRF 12, BT.709), generated into the work
// directory (default /tmp/kavlo-bench-gif) on the first run and reused:
//   gradient   1080p smooth gradient motion
//   pattern    1080p test pattern
//   screen     1080p 4:4:4 screen recording of small red and blue text
//   camera     720p photograph panned slowly by fractions of a pixel
//   grain      1080p the same with fine sensor grain
//   heavy      720p the same with heavy grain
// The photographs come from /usr/share/backgrounds/mate/nature.
// The palette options override Kavlo's defaults to compare settings. The
// command line runs, with G the cycle graph (references.cpp):
//   ffmpeg -i SRC -vf "G,palettegen" palette.png
//   ffmpeg -i SRC -i palette.png -lavfi "[0:v]G[x];[x][1:v]paletteuse" out.gif
// gifski (npm's gifski@1.7.1, installed into ~/.cache/kavlo-bench when
// missing) gets the cycle's pictures as PNGs, the very pictures Kavlo
// quantizes, written beforehand and not timed:
//   gifski --quality Q --fps 30 --width W -o out.gif 000.png ... 049.png
// Kavlo's time includes decoding the video. With --runs N each encoder runs
// N times and the median time is reported. CPU time counts the benchmark
// process and the processes it ran; it is steadier than wall time on a busy
// machine.
#include "media/colour.h"
#include "media/error.h"
#include "media/input_file.h"
#include "media/library_log.h"
#include "media/picture.h"
#include "references.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "ssim.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace kavlo;

namespace {

constexpr int kFrames = 30; // one second at 30 fps

struct Source {
    std::string name;
    std::vector<std::string> input; // ffmpeg's input options and filters
    int width = 1920, height = 1080;
    std::string pixelFormat = "yuv420p";
};

Source lavfiSource(std::string name, std::string graph, std::string pixelFormat = "yuv420p") {
    return {std::move(name),
            {"-f", "lavfi", "-i", std::move(graph)},
            1920,
            1080,
            std::move(pixelFormat)};
}

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

// What a phone gives: a 16:10 photograph panned slowly (about a pixel a
// frame at 720p, by fractions of a pixel, so that every pixel changes every
// frame), converted with the BT.709 matrix, with temporal grain of
// `lumaGrain` and `chromaGrain` (ffmpeg's noise strengths, 0: none).
Source cameraSource(std::string name, const std::string& photo, int width, int height,
                    int lumaGrain, int chromaGrain) {
    const int margin = width / 32;
    const int scaledWidth = width + 2 * margin, scaledHeight = scaledWidth * 10 / 16;
    const std::string dx = std::to_string(width / 1000.0), dy = std::to_string(width / 3000.0);
    const std::string x = "in*" + dx, y = "in*" + dy;
    std::string graph = "scale=" + std::to_string(scaledWidth) + ":" +
                        std::to_string(scaledHeight) +
                        ":flags=lanczos,format=gbrp,perspective=x0=" + x + ":y0=" + y + ":x1=W+" +
                        x + ":y1=" + y + ":x2=" + x + ":y2=H+" + y + ":x3=W+" + x + ":y3=H+" + y +
                        ":interpolation=cubic:eval=frame,crop=" + std::to_string(width) + ":" +
                        std::to_string(height) + ":" + std::to_string(margin) + ":" +
                        std::to_string((scaledHeight - height) / 2) +
                        ",scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";
    if (lumaGrain > 0) {
        const std::string l = std::to_string(lumaGrain), c = std::to_string(chromaGrain);
        graph += ",noise=c0s=" + l + ":c0f=t:c1s=" + c + ":c1f=t:c2s=" + c + ":c2f=t";
    }
    return {std::move(name),
            {"-loop", "1", "-framerate", "30", "-i", "/usr/share/backgrounds/mate/nature/" + photo,
             "-vf", graph},
            width,
            height};
}

const Source kSources[] = {
    lavfiSource("gradient", "gradients=s=1920x1080:r=30:n=4:speed=0.02:seed=7"),
    lavfiSource("pattern", "testsrc2=s=1920x1080:r=30"),
    lavfiSource("screen", kScreen, "yuv444p"),
    cameraSource("camera", "Garden.jpg", 1280, 720, 0, 0),
    cameraSource("grain", "LadyBird.jpg", 1920, 1080, 3, 1),
    cameraSource("heavy", "TwoWings.jpg", 1280, 720, 10, 4),
};

fs::path sourceFile(const fs::path& dir, const Source& source) {
    const fs::path path = dir / (source.name + ".mp4");
    if (!fs::exists(path)) {
        std::fprintf(stderr, "generating %s\n", path.c_str());
        std::vector<std::string> args = source.input;
        args.push_back("-frames:v");
        args.push_back(std::to_string(kFrames));
        for (const char* arg : {"-c:v", "libx264", "-preset", "medium", "-crf", "12", "-pix_fmt"})
            args.push_back(arg);
        args.push_back(source.pixelFormat);
        for (const char* arg : {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                                "bt709", "-color_range", "tv"})
            args.push_back(arg);
        args.push_back(path.string() + ".part.mp4");
        test::runFfmpeg(args);
        fs::rename(path.string() + ".part.mp4", path);
    }
    return path;
}

// The source frames the cycle shows, in order, as RGB.
std::vector<test::RgbPicture> referencePictures(const fs::path& path, const Source& source) {
    InputFile file(path.string());
    const int w = source.width, h = source.height;
    // At the source's full colour resolution, as the GIF is made.
    std::vector<Picture> frames =
        readSegmentFrames(file, 0.0, 1.0, 30.0, w, h, nullptr, 1.0, {}, /*fullChroma=*/true);
    BgraConverter converter;
    std::vector<uint8_t> bgra(std::size_t(w) * h * 4);
    std::vector<test::RgbPicture> pictures;
    for (int index : pingPongIndexSequence(int(frames.size()), 1)) {
        converter.convert(frames[index], bgra.data(), w * 4);
        pictures.push_back(test::RgbPicture::fromBgra(bgra.data(), w, h));
    }
    return pictures;
}

struct Figures {
    double meanSsim = 0, minSsim = 1;
    std::size_t pictures = 0;
    double megabytes = 0;
    double seconds = 0;
    double cpuSeconds = 0; // this process and the processes it waited for
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

// Whether `name` is one of the comma-separated `names` (all when empty).
bool listed(const std::string& names, const std::string& name) {
    return names.empty() || ("," + names + ",").find("," + name + ",") != std::string::npos;
}

void printRatios(const std::string& source, const char* against, const Figures& kavlo,
                 const Figures& other, double sizeGoal) {
    std::printf("%-9s kavlo/%s: size %.3f (goal <= %.2f), SSIM %+.4f (goal >= 0), time %.2f, "
                "CPU %.2f (goal <= 1)\n",
                source.c_str(), against, kavlo.megabytes / other.megabytes, sizeGoal,
                kavlo.meanSsim - other.meanSsim, kavlo.seconds / other.seconds,
                kavlo.cpuSeconds / other.cpuSeconds);
}

} // namespace

int main(int argc, char** argv) {
    limitLibraryLogToErrors();
    returnLargeBuffersToTheSystem(); // as the application and kavlo-render do
    fs::path workdir = fs::temp_directory_path() / "kavlo-bench-gif";
    const char* home = std::getenv("HOME");
    const fs::path gifskiCache =
        fs::path(home ? home : fs::temp_directory_path().c_str()) / ".cache" / "kavlo-bench";
    std::string only;
    int runs = 1;
    int gifskiQuality = 90;
    bool reference = true, gifski = true;
    GifRenderOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--no-reference" || arg == "--no-gifski") {
            (arg == "--no-gifski" ? gifski : reference) = false;
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
        else if (arg == "--gifski-quality")
            gifskiQuality = std::clamp(std::atoi(value), 1, 100);
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
        else if (arg == "--hold")
            options.colour.holdDistance = std::atoi(value);
        else if (arg == "--grain-hold")
            options.colour.holdPerGrain = float(std::atof(value));
        else {
            std::fprintf(stderr, "bench_gif: bad argument %s\n", arg.c_str());
            return 2;
        }
    }
    fs::create_directories(workdir);
    std::optional<fs::path> gifskiProgram;
    if (reference && gifski)
        gifskiProgram = bench::findGifski(gifskiCache);

    const std::string kavloName = std::string("kavlo (") +
                                  (options.colour.sharedPalette ? "shared" : "per-frame") + ", d" +
                                  std::to_string(options.colour.dithering).substr(0, 4) + ", s" +
                                  std::to_string(options.colour.speed) + ", l" +
                                  std::to_string(options.colour.learnedPictures) + ", k" +
                                  std::to_string(options.colour.keepDistance) + ", h" +
                                  std::to_string(options.colour.holdDistance) + ", g" +
                                  std::to_string(options.colour.holdPerGrain).substr(0, 4) + ")";
    std::printf("%-9s %-32s %8s %10s %10s %9s %8s %8s\n", "source", "encoder", "pictures",
                "mean SSIM", "min SSIM", "size MB", "time s", "CPU s");
    for (const Source& source : kSources) {
        if (!listed(only, source.name))
            continue;
        const fs::path input = sourceFile(workdir, source);
        const std::vector<test::RgbPicture> pictures = referencePictures(input, source);

        const fs::path ours = workdir / (source.name + "-kavlo.gif");
        const Figures kavlo =
            measure([&] { renderPingPongGIF(input, ours, 0.0, 1.0, 1.0, nullptr, {}, options); },
                    ours, runs, pictures);
        printRow(source.name, kavloName, kavlo);
        if (!reference)
            continue;
        const fs::path theirs = workdir / (source.name + "-ffmpeg.gif");
        const Figures ffmpeg =
            measure([&] { bench::palettegenGif(input, theirs); }, theirs, runs, pictures);
        printRow(source.name, "ffmpeg palettegen+use", ffmpeg);
        Figures best;
        if (gifskiProgram) {
            const std::vector<fs::path> pngs =
                bench::writePngs(pictures, workdir / (source.name + "-png"));
            const fs::path gifskiOutput = workdir / (source.name + "-gifski.gif");
            best = measure(
                [&] {
                    bench::gifskiGif(*gifskiProgram, pngs, source.width, gifskiQuality, 30.0,
                                     gifskiOutput);
                },
                gifskiOutput, runs, pictures);
            printRow(source.name, "gifski --quality " + std::to_string(gifskiQuality), best);
            fs::remove_all(workdir / (source.name + "-png"));
        }
        // The goals: at least 5 % smaller than the command line and no larger
        // than gifski, each at no lower mean SSIM, in less time.
        printRatios(source.name, "ffmpeg", kavlo, ffmpeg, 0.95);
        if (gifskiProgram)
            printRatios(source.name, "gifski", kavlo, best, 1.0);
    }
    return 0;
}
