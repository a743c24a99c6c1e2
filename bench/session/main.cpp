// session-bench: the load path's figures. Thumbnails of a 10-minute 1080p
// video: when the strip of key frames is complete and when all of it is
// exact, beside the key frames alone decoded for the same times in the same
// run and ffmpeg decoding every key frame (-skip_frame nokey); the
// time to probe files of several containers against 100 ms, and how late
// the UI thread's event loop gets while the thumbnails are made on a worker
// and every strip shown is drawn by a timeline bar at 2x (offscreen unless
// QT_QPA_PLATFORM says otherwise), with what its longest stall was spent on
// beside the floor of a process that only sleeps (bench/support/ui_stalls.h).
//
//   session-bench [--work DIR] [--runs N] [--only thumbnails|stall|probe]
//
// Sources are generated once with the ffmpeg command line into the work
// directory (default /tmp/kavlo-session-bench) and reused; the 10-minute
// file takes several minutes to make on two cores.
#include "core/thread_priority.h"
#include "media/error.h"
#include "media/library_log.h"
#include "session/playable_source.h"
#include "session/thumbnails.h"
#include "session/video_probe.h"
#include "timeline/timeline_bar.h"
#include "ui_stalls.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>

namespace {

using namespace kavlo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User and system time of this process so far, all threads.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void generate(const fs::path& path, const std::string& arguments) {
    if (fs::exists(path))
        return;
    std::fprintf(stderr, "generating %s ...\n", path.c_str());
    const fs::path partial = path.string() + ".partial" + path.extension().string();
    if (run("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " '" +
            partial.string() + "'") != 0) {
        std::fprintf(stderr, "could not generate %s\n", path.c_str());
        std::exit(1);
    }
    fs::rename(partial, path);
}

struct Stats {
    double min = 0, median = 0, max = 0;
};

Stats stats(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

void report(const char* what, double value, const char* unit, double limit) {
    std::printf("  %-56s %9.3f %s   (limit %.3g %s: %s)\n", what, value, unit, limit, unit,
                value <= limit ? "ok" : "OVER");
}

// A new window's timeline bar: 80 tall, the strip above its scrollbar.
constexpr double kTimelineBarHeight = 80;
constexpr double kTimelineStripHeight = kTimelineBarHeight - kScrollbarHeight - kStackSpacing;

void thumbnails(const fs::path& work, int runs) {
    const fs::path file = work / "testsrc2-1080p30-600s-key2s.mp4";
    generate(file, "-f lavfi -i testsrc2=size=1920x1080:rate=30:duration=600 -c:v libx264 "
                   "-preset veryfast -x264-params keyint=60:min-keyint=60:scenecut=0 "
                   "-pix_fmt yuv420p");
    const double duration = probeVideo(file).durationSeconds;
    std::printf("Thumbnails of %s (%.0f s, 1920x1080, 30 fps, a key frame every 2 s)\n",
                file.filename().c_str(), duration);

    // Each run makes the strip twice. First the key frames alone: a
    // tolerance of half the spacing between images, so that a key frame
    // always serves and nothing between key frames is decoded (the
    // reference). Then as the window gets it: the strip of nearest key
    // frames complete first, then all exact.
    // At the size of a new window's tiles at 2x, as the window asks for them.
    const QSize tile = tilePixelSize(kTimelineStripHeight, 2);
    const std::size_t count = thumbnailTimes(duration).size();
    const double spacing = duration / double(count - 1);
    std::vector<double> keyStrip, exact, keysAlone, ratio, processor;
    qsizetype made = 0, firstShown = 0;
    std::printf("  %-10s %14s %14s %14s %8s\n", "run", "key strip s", "all exact s", "keys alone s",
                "ratio");
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        generateThumbnails(file, duration, {}, spacing / 2, {}, tile);
        keysAlone.push_back(secondsSince(start));

        start = Clock::now();
        const double cpuStart = processorSeconds();
        std::optional<double> shownAt;
        made = generateThumbnails(
                   file, duration, {}, kThumbnailToleranceSeconds,
                   [&](const QList<TimelineThumbnail>& strip) {
                       if (!shownAt) {
                           shownAt = secondsSince(start);
                           firstShown = strip.size();
                       }
                   },
                   tile)
                   .size();
        exact.push_back(secondsSince(start));
        processor.push_back(processorSeconds() - cpuStart);
        keyStrip.push_back(shownAt.value_or(exact.back()));
        ratio.push_back(keyStrip.back() / keysAlone.back());
        std::printf("  %-10d %14.3f %14.3f %14.3f %8.2f\n", i + 1, keyStrip.back(), exact.back(),
                    keysAlone.back(), ratio.back());
    }
    std::printf("  %lld images, %lld of them in the first strip shown\n",
                static_cast<long long>(made), static_cast<long long>(firstShown));
    report("strip of key frames on screen / keys alone, best run", stats(ratio).min, "x", 1.2);
    report("  the same, median", stats(ratio).median, "x", 1.2);
    std::printf("  %-56s %9.3f s\n", "strip of key frames, best run", stats(keyStrip).min);
    std::printf("  %-56s %9.3f s\n", "all exact, best run", stats(exact).min);
    std::printf("  %-56s %9.3f s\n", "keys alone, best run", stats(keysAlone).min);
    // Processor time counts the work done, whatever else runs on the machine.
    std::printf("  %-56s %9.3f s\n", "  processor time to all exact (both threads), least",
                stats(processor).min);

    // The same job on the command line: every key frame (300 of them, the
    // strip needs 120 pictures, most of them between key frames) decoded
    // and scaled to the box, at the lowered priority the exact images are
    // made at.
    for (const char* threads : {"1", "2"}) {
        std::vector<double> reference;
        for (int i = 0; i < runs; ++i) {
            const auto start = Clock::now();
            run("nice -n " + std::to_string(kBackgroundNice) +
                " ffmpeg -nostdin -hide_banner -loglevel error -threads " + std::string(threads) +
                " -skip_frame nokey -i '" + file.string() +
                "' -an -vf scale=160:90 -threads 1 -f null -");
            reference.push_back(secondsSince(start));
        }
        const std::string label =
            std::string("ffmpeg -skip_frame nokey, scaled, -threads ") + threads + ", best run";
        std::printf("  %-56s %9.3f s\n", label.c_str(), stats(reference).min);
    }
}

void stripStall(const fs::path& work) {
    const fs::path file = work / "testsrc2-1080p30-600s-key2s.mp4";
    const double duration = probeVideo(file).durationSeconds;
    // The UI thread while a worker makes the strip and a timeline bar as
    // wide as a new window's draws it: a 1 ms timer's lateness.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    int argc = 1;
    char name[] = "session-bench";
    char* argv[] = {name, nullptr};
    bench::TracedApplication<QApplication> app(argc, argv);
    TimelineBar bar;
    TimelineBarInputs inputs{.duration = duration,
                             .start = 0,
                             .end = 1,
                             .playhead = 0,
                             .maxLoopDuration = std::min(duration, 3.0),
                             .thumbnails = {},
                             .isLoaded = true};
    bar.setInputs(inputs);
    bar.resize(728, int(kTimelineBarHeight));
    bar.show();
    // The images made at the tile's size in device pixels, as the window
    // asks for them.
    const QSize tile = tilePixelSize(bar.layoutGeometry().stripHeight, bar.devicePixelRatioF());
    bench::UiStallWatch stalls;
    std::jthread worker([&] {
        // As the Model does: every strip shown goes to the UI thread.
        generateThumbnails(
            file, duration, {}, kThumbnailToleranceSeconds,
            [&](const QList<TimelineThumbnail>& strip) {
                QMetaObject::invokeMethod(&bar, [&, strip] {
                    inputs.thumbnails.assign(strip.begin(), strip.end());
                    bar.setInputs(inputs);
                });
            },
            tile);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    report("longest UI thread stall while making them", stalls.longestMs(), "ms", 16);
    std::printf("    %s\n", stalls.longestCause().c_str());
    std::printf("    longest event %s\n", stalls.longestEvent().c_str());
}

void probes(const fs::path& work, int runs) {
    struct Source {
        const char* name;
        const char* extra;
    };
    const Source sources[] = {
        {"h264-aac-1080p30-10s.mp4", "-c:v libx264 -c:a aac"},
        {"h264-aac-1080p30-10s.mov", "-c:v libx264 -c:a aac"},
        {"h264-aac-1080p30-10s.mkv", "-c:v libx264 -c:a aac"},
        {"h264-aac-1080p30-10s.ts", "-c:v libx264 -c:a aac"},
        {"mpeg2-mp2-1080p30-10s.ts", "-c:v mpeg2video -q:v 4 -c:a mp2"},
        {"vp9-opus-1080p30-10s.webm", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 4M "
                                      "-c:a libopus"},
    };
    std::printf("Probing (best and worst of %d runs; readable check, then probeVideo)\n", runs);
    std::vector<fs::path> files;
    for (const Source& source : sources) {
        files.push_back(work / source.name);
        generate(files.back(), std::string("-f lavfi -i testsrc2=size=1920x1080:rate=30 -f lavfi "
                                           "-i sine=f=440:r=48000 -t 10 -pix_fmt yuv420p -g 60 ") +
                                   source.extra);
    }
    files.push_back(work / "testsrc2-1080p30-600s-key2s.mp4");
    for (const fs::path& file : files) {
        if (!fs::exists(file))
            continue;
        std::vector<double> readable, probe;
        for (int i = 0; i < runs; ++i) {
            auto start = Clock::now();
            hasDecodableVideo(file);
            readable.push_back(secondsSince(start) * 1000);
            start = Clock::now();
            probeVideo(file);
            probe.push_back(secondsSince(start) * 1000);
        }
        const Stats r = stats(readable), p = stats(probe);
        std::printf("  %-34s readable %6.1f..%6.1f ms  probe %6.1f..%6.1f ms  (limit 100: %s)\n",
                    file.filename().c_str(), r.min, r.max, p.min, p.max,
                    p.max <= 100 ? "ok" : "OVER");
    }
}

} // namespace

int main(int argc, char** argv) {
    limitLibraryLogToErrors();
    returnLargeBuffersToTheSystem(); // as the application does
    fs::path work = "/tmp/kavlo-session-bench";
    int runs = 3;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--work DIR] [--runs N] [--only thumbnails|stall|probe]\n",
                         argv[0]);
            return 2;
        }
    }
    fs::create_directories(work);
    if (only.empty() || only == "probe")
        probes(work, std::max(runs, 5));
    if (only.empty() || only == "thumbnails")
        thumbnails(work, runs);
    if (only.empty() || only == "thumbnails" || only == "stall")
        stripStall(work);
    return 0;
}
