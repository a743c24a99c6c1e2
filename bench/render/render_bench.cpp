// Times renderPingPongVideo against two references: the ffmpeg command line
// doing the same ping-pong (trim, split, reverse, concat, loop; the sound
// with asplit, areverse, concat, aloop) at the same preset and CRF, and x264
// alone encoding the pictures of one cycle, decoded beforehand and held in
// memory, at the same settings: the floor of any render, whatever its loop
// count, since a cycle is encoded once. Shows what the sound adds to our
// render, and measures the peak memory of a 3-second 4K 60 fps render.
//
//   build/bench/render/render_bench [--runs N] [--skip-memory] [--work DIR]
//
// Sources are generated once into the work directory (default
// /tmp/kavlo-bench) and reused.
#include "bench_support.h"
#include "media/encoder.h"
#include "media/input_file.h"
#include "media/packet.h"
#include "media/rational.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/render_video.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace fs = std::filesystem;
using kavlo::bench::bestOf;
using kavlo::bench::run;

namespace {

// The same file with its sound left out (stream copy).
void withoutSound(const fs::path& source, const fs::path& path) {
    if (fs::exists(path))
        return;
    if (run("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + source.string() +
            " -an -c copy " + path.string()) != 0) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        std::exit(1);
    }
}

bool hasAudio(const fs::path& file) {
    return kavlo::probeMedia(file.string()).audio.has_value();
}

// The command line's ping-pong of the same segment: one forward-and-back
// cycle of the trimmed frames, looped. With sound, the audio is reversed and
// looped alongside.
std::string commandLineRecipe(const fs::path& source, const fs::path& output, double start,
                              double length, int loops, int cycleFrames, bool withAudio,
                              const kavlo::H264Settings& settings) {
    std::string graph = "[0:v]trim=duration=" + std::to_string(length) +
                        ",setpts=PTS-STARTPTS,split[f][b];[b]reverse[r];[f][r]concat=n=2:v=1:a=0,"
                        "loop=loop=" +
                        std::to_string(loops - 1) + ":size=" + std::to_string(cycleFrames) +
                        ":start=0[v]";
    std::string maps = "-map [v]";
    if (withAudio) {
        graph += ";[0:a]atrim=duration=" + std::to_string(length) +
                 ",asetpts=PTS-STARTPTS,asplit[af][ab];[ab]areverse[ar];[af][ar]concat=n=2:v=0:a=1,"
                 "aloop=loop=" +
                 std::to_string(loops - 1) + ":size=" + std::to_string(int(2 * length * 48000)) +
                 "[a]";
        maps += " -map [a] -c:a aac -b:a 128k";
    } else {
        maps += " -an";
    }
    return "ffmpeg -nostdin -hide_banner -loglevel error -y -ss " + std::to_string(start) + " -i " +
           source.string() + " -filter_complex \"" + graph + "\" " + maps +
           " -c:v libx264 -preset " + settings.preset + " -crf " +
           std::to_string(int(settings.crf)) + " -pix_fmt yuv420p -movflags +faststart " +
           output.string();
}

// The pictures of one cycle of the render's ping-pong of [start, end), in
// the order they are written.
std::vector<kavlo::Picture> cyclePictures(const fs::path& source, double start, double end,
                                          double& frameRate) {
    kavlo::InputFile file(source.string());
    kavlo::RenderFrames frames = kavlo::readRenderFrames(file, start, end, nullptr, 1.0, {});
    frameRate = frames.frameRate;
    std::vector<kavlo::Picture> cycle;
    for (int index : kavlo::pingPongIndexSequence(int(frames.pictures.size()), 1))
        cycle.push_back(frames.pictures[index].share());
    return cycle;
}

// x264 on its own: `pictures` encoded at `settings` as the render's writer
// sets it up (the encoder opened and flushed, the packets dropped).
void encodeAlone(const std::vector<kavlo::Picture>& pictures, double frameRate,
                 const kavlo::H264Settings& settings) {
    const kavlo::Picture& first = pictures.front();
    kavlo::EncoderSettings encoding = kavlo::h264EncoderSettings(
        first.width(), first.height(), kavlo::nearestRational(frameRate, 1 << 24), settings);
    encoding.globalHeader = true;
    encoding.colour = first.colourTags();
    kavlo::Encoder encoder(encoding);
    kavlo::Packet packet;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        encoder.send(pictures[i], int64_t(i));
        while (encoder.receive(packet)) {
        }
    }
    encoder.sendEnd();
    while (encoder.receive(packet)) {
    }
}

// Peak resident memory of a kavlo-render run, in bytes.
long peakMemoryOfRender(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        static std::string binary = KAVLO_RENDER_BINARY;
        argv.push_back(binary.data());
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "kavlo-render failed\n");
        return -1;
    }
    return usage.ru_maxrss * 1024L;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool memory = true;
    fs::path work = "/tmp/kavlo-bench";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--skip-memory")
            memory = false;
        else if (arg == "--work" && i + 1 < argc)
            work = argv[++i];
    }
    av_log_set_level(AV_LOG_ERROR);
    fs::create_directories(work);

    const fs::path hd = work / "source-1080p30.mp4";
    kavlo::bench::makeCameraClip(hd, "1920x1080", 30, 6);
    // What the sound adds: the same picture rendered from a silent copy.
    const fs::path silent = work / "source-1080p30-silent.mp4";
    withoutSound(hd, silent);
    const auto settings = kavlo::H264Settings::forExport();
    const double start = 2.5, length = 1.0;

    std::printf("Ping-pong render of a 1-second selection of a 1920x1080 30 fps H.264 source\n");
    std::printf("x264 preset %s, CRF %g; best of %d runs\n\n", settings.preset.c_str(),
                settings.crf, runs);
    double frameRate = 0;
    const std::vector<kavlo::Picture> cycle = cyclePictures(hd, start, start + length, frameRate);
    std::printf("%-7s %10s %14s %14s %10s %12s %8s %8s %8s\n", "loops", "kavlo (s)", "kavlo silent",
                "ffmpeg cli", "cli ratio", "x264 alone", "x264 rt", "goal", "x264 goal");
    for (int loops : {1, 3}) {
        const fs::path ours = work / ("kavlo-loops" + std::to_string(loops) + ".mp4");
        const fs::path theirs = work / ("cli-loops" + std::to_string(loops) + ".mp4");
        kavlo::RenderResult result;
        const double kavloTime = bestOf(runs, [&] {
            result =
                kavlo::renderPingPongVideo(hd, ours, start, start + length, 1.0, loops, nullptr);
        });
        const fs::path oursSilent = work / ("kavlo-silent-loops" + std::to_string(loops) + ".mp4");
        const double silentTime = bestOf(runs, [&] {
            kavlo::renderPingPongVideo(silent, oursSilent, start, start + length, 1.0, loops,
                                       nullptr);
        });
        // The command line keeps every frame of the selection; we trim two
        // at each edge, so its cycle is 2 * n frames against our 2 * (n - 5).
        const int cycleFrames = 2 * result.sourceFrameCount;
        const std::string cli = commandLineRecipe(hd, theirs, start, length, loops, cycleFrames,
                                                  hasAudio(ours), settings);
        const double cliTime = bestOf(runs, [&] {
            if (run(cli) != 0) {
                std::fprintf(stderr, "ffmpeg failed: %s\n", cli.c_str());
                std::exit(1);
            }
        });
        // Timed last in the same run, so that it meets the same load.
        const double x264Time = bestOf(runs, [&] { encodeAlone(cycle, frameRate, settings); });
        std::printf("%-7d %10.3f %14.3f %14.3f %10.2f %12.3f %8.2f %8s %8s\n", loops, kavloTime,
                    silentTime, cliTime, kavloTime / cliTime, x264Time, kavloTime / x264Time,
                    loops == 1 ? "<= 0.6" : "<= 0.3", "<= 1.05");
    }
    std::printf("\n(kavlo output %s sound; the command line is given the same work, its sound\n"
                " reversed and looped with asplit, areverse, concat and aloop; \"kavlo silent\"\n"
                " renders the same picture from a copy of the source without sound; \"x264\n"
                " alone\" encodes the %zu pictures of one cycle from memory, \"x264 rt\" is\n"
                " kavlo's time over it)\n",
                hasAudio(work / "kavlo-loops1.mp4") ? "with" : "without", cycle.size());

    if (memory) {
        const fs::path uhd = work / "source-2160p60.mp4";
        kavlo::bench::makeCameraClip(uhd, "3840x2160", 60, 5);
        const long peak = peakMemoryOfRender({uhd.string(), "-o", (work / "kavlo-4k.mp4").string(),
                                              "--start", "1", "--end", "4", "--loops", "3"});
        const double bgra = 180.0 * 3840 * 2160 * 4;
        std::printf("\nPeak resident memory, 3-second 3840x2160 60 fps render (loops 3)\n");
        std::printf("%-28s %10.2f GB\n", "kavlo-render", peak / 1e9);
        std::printf("%-28s %10.2f GB\n", "goal", 3.0);
        std::printf("%-28s %10.2f GB\n", "frames held as BGRA would be", bgra / 1e9);
    }
    return 0;
}
