// playback-bench: the players' figures, measured where a user would see them,
// from the frames a VideoView receives on the UI thread.
//
//   playback-bench [--media DIR] [--only loop|av|scrub|memory]
//
// Test media is made once with the ffmpeg command line into DIR (default
// /tmp/kavlo-playback-bench) and reused. Without a sound device the A/V
// figure is skipped; see README.md for a headless null sink.
#include "app/video_view.h"
#include "playback/audio_output.h"
#include "playback/media_clock.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace kavlo;
namespace fs = std::filesystem;

constexpr double kFrameMs = 1000.0 / 30;

// Runs the event loop until `pred` holds; false after `timeoutMs`. It
// sleeps only in the event loop, so arrival times stay sharp and the UI
// thread stays free (QTest::qWaitFor sleeps in 10 ms steps).
template <typename Pred> bool waitFor(Pred pred, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake; // makes sure the loop looks at the clock now and then
    wake.start(5);
    while (!pred()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "timed out waiting for %s\n", what);
        std::exit(1);
    }
}

void waitMs(int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    waitFor([&] { return elapsed.elapsed() >= ms; }, ms + 1000);
}

void makeMedia(const fs::path& path, const std::string& ffmpegArgs) {
    if (fs::exists(path))
        return;
    std::fprintf(stderr, "making %s ...\n", path.c_str());
    const fs::path partial = path.string() + ".part.mp4";
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + ffmpegArgs + " '" +
                            partial.string() + "'";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
    fs::rename(partial, path);
}

// The sizes a window of the app would give the two surfaces.
struct Surfaces {
    Surfaces() {
        for (VideoView* v : {&preview, &scrub}) {
            v->resize(960, 540);
            v->show();
        }
    }
    VideoView preview;
    VideoView scrub;
};

struct Stats {
    double max = 0, mean = 0, p99 = 0;
};

Stats stats(std::vector<double> v) {
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.max = v.back();
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / v.size();
    s.p99 = v[std::min(v.size() - 1, size_t(v.size() * 0.99))];
    return s;
}

void report(const char* what, double value, const char* unit, double target) {
    std::printf("  %-52s %9.1f %-3s (target <= %g) %s\n", what, value, unit, target,
                value <= target ? "ok" : "OVER");
}

// Loop point and A/V offset: 20 repetitions of a 50-frame 1080p30 file with
// sound, as the app shows a rendered preview.
void loopAndSync(const fs::path& media, bool measureLoop, bool measureSync) {
    const fs::path file = media / "loop50-1080p30-sound.mp4";
    makeMedia(file, "-f lavfi -i testsrc2=s=1920x1080:r=30 -f lavfi -i "
                    "sine=f=440:r=48000:beep_factor=4 -frames:v 50 -c:v libx264 -preset veryfast "
                    "-pix_fmt yuv420p -c:a aac -shortest");
    Surfaces surfaces;
    PreviewPlayer player;
    surfaces.preview.setSource(&player);
    const double loopSeconds = 50 / 30.0;

    struct Arrival {
        int64_t atUs;
        double pts;
        std::optional<AudioOutput::Position> audio;
    };
    std::vector<Arrival> arrivals;
    QObject::connect(&player, &FrameSource::frameChanged, [&] {
        const AudioOutput* out = player.audioOutput();
        arrivals.push_back(
            {steadyNowUs(), player.currentTimeSeconds(), out ? out->lastPosition() : std::nullopt});
    });
    player.setItem(file.string(), Player::Looping::on);
    require(waitFor([&] { return !arrivals.empty(); }, 10000), "the first frame");
    player.play();
    const size_t wanted = 1 + 21 * 50; // a first repetition to settle, then 20
    require(waitFor([&] { return arrivals.size() >= wanted; }, 90000), "21 loops");
    player.pause();

    // Skip the first repetition: the device and the caches start there.
    size_t first = 0;
    int wraps = 0;
    for (size_t i = 1; i < arrivals.size(); ++i)
        if (arrivals[i].pts < arrivals[i - 1].pts && ++wraps == 1)
            first = i;
    std::vector<double> onScreen, atLoop;
    int repeats = 0, skipped = 0;
    for (size_t i = first + 1; i < arrivals.size(); ++i) {
        const double ms = (arrivals[i].atUs - arrivals[i - 1].atUs) / 1000.0;
        onScreen.push_back(ms);
        const double step = arrivals[i].pts - arrivals[i - 1].pts;
        if (step < 0)
            atLoop.push_back(ms);
        if (step == 0)
            ++repeats;
        const double expected = step < 0 ? step + loopSeconds : step;
        if (std::abs(expected - 1 / 30.0) > 1e-3)
            ++skipped;
    }
    if (measureLoop) {
        const Stats all = stats(onScreen), loop = stats(atLoop);
        std::printf("Loop point: %zu frames over %zu loop points, %llu dropped by the player\n",
                    onScreen.size(), atLoop.size(),
                    static_cast<unsigned long long>(player.droppedFrames()));
        report("longest time a frame stays on screen, at loop points", loop.max, "ms",
               kFrameMs + 5);
        report("longest time a frame stays on screen, anywhere", all.max, "ms", kFrameMs + 5);
        std::printf("  %-52s %9.1f ms  p99 %.1f ms\n", "mean time on screen", all.mean, all.p99);
        std::printf("  %-52s %9d\n", "frames shown twice in a row", repeats);
        std::printf("  %-52s %9d\n", "frames skipped", skipped);
    }
    if (measureSync) {
        if (!player.hasSoundDevice()) {
            std::printf("A/V offset: no sound device, not measured (see README.md)\n");
            return;
        }
        // What is heard when a frame appears, against the frame's own time,
        // both on the looped timeline.
        std::vector<double> offsets;
        int loops = 0;
        for (size_t i = first; i < arrivals.size(); ++i) {
            if (i > first && arrivals[i].pts < arrivals[i - 1].pts)
                ++loops;
            const auto& a = arrivals[i];
            if (!a.audio)
                continue;
            const double heard = (a.audio->ptsUs + (a.atUs - a.audio->atUs)) / 1e6;
            const double shown = (wraps > 0 ? 1 + loops : loops) * loopSeconds + a.pts;
            offsets.push_back(std::abs(heard - shown) * 1000);
            if (std::getenv("KAVLO_BENCH_TRACE"))
                std::fprintf(stderr,
                             "%zu at %.1f ms: heard %.4f shown %.4f (audio reported %.1f ms "
                             "earlier)\n",
                             i, (a.atUs - arrivals[first].atUs) / 1000.0, heard, shown,
                             (a.atUs - a.audio->atUs) / 1000.0);
        }
        const Stats s = stats(offsets);
        std::printf("A/V offset over %zu frames\n", offsets.size());
        report("largest |sound heard - picture shown|", s.max, "ms", 20);
        std::printf("  %-52s %9.1f ms  p99 %.1f ms\n", "mean", s.mean, s.p99);
    }
}

// CPU time of the whole process so far, all threads, in milliseconds.
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// When the pictures of one seek reached the view, in ms after seek(): the
// first (an interim while the exact frame is decoded, or the exact frame
// itself) and the last before the seek completed (the exact frame).
struct SeekTimes {
    double firstMs = -1;
    double exactMs = -1;
};

SeekTimes timedSeek(ScrubPlayer& player, double t) {
    bool done = false;
    QElapsedTimer clock;
    clock.start();
    SeekTimes times;
    auto c = QObject::connect(&player, &FrameSource::frameChanged, [&] {
        times.exactMs = clock.nsecsElapsed() / 1e6;
        if (times.firstMs < 0)
            times.firstMs = times.exactMs;
    });
    player.seek(t, 1 / 30.0, [&](bool) { done = true; });
    require(waitFor([&] { return done; }, 10000), "a seek");
    QObject::disconnect(c);
    return times;
}

// Cold seeks: a fresh player for each target, opened and seeked once into
// another GOP first, so the target's GOP has never been decoded. The CPU
// time each took, spread over the two cores frame threading uses, says what
// a quiet machine would see when this one is busy.
void coldSeeks(Surfaces& surfaces, const fs::path& file, const char* label) {
    std::vector<double> first, exact, exactCpu;
    std::printf("Scrub, cold seeks into %s at key frame + 0.0 .. 1.97 s,\n"
                "first picture / exact picture ms (CPU ms):\n ",
                label);
    for (double into : {0.0, 0.5, 1.0, 1.5, 1.97}) {
        for (double gop : {2.0, 4.0}) {
            ScrubPlayer player;
            surfaces.scrub.setSource(&player);
            player.setItem(file.string());
            timedSeek(player, gop == 2.0 ? 4.5 : 0.5);
            waitMs(1500); // let its idle decoding finish
            const double cpuBefore = cpuMs();
            const SeekTimes times = timedSeek(player, gop + into);
            first.push_back(times.firstMs);
            exact.push_back(times.exactMs);
            exactCpu.push_back(cpuMs() - cpuBefore);
            std::printf(" %.0f/%.0f (%.0f)", times.firstMs, times.exactMs, exactCpu.back());
        }
    }
    std::printf("\n");
    report("cold seek, first picture, slowest", stats(first).max, "ms", 50);
    report("cold seek, exact picture, slowest", stats(exact).max, "ms", 150);
    std::printf("  %-52s %9.1f ms\n", "  its CPU time / 2 cores (a quiet machine's time)",
                stats(exactCpu).max / 2);
}

// Scrubbing 1080p H.264 sources with key frames 2 s apart: a typical one
// and a grainy one such as a phone makes in poor light.
void scrub(const fs::path& media) {
    const std::string gop60 = " -t 6 -c:v libx264 -preset veryfast -crf 21 -g 60 -keyint_min 60 "
                              "-sc_threshold 0 -pix_fmt yuv420p";
    const fs::path typical = media / "scrub-1080p30-gop60-6mbps.mp4";
    makeMedia(typical, "-f lavfi -i testsrc2=s=1920x1080:r=30,noise=alls=2:allf=t" + gop60);
    const fs::path file = media / "scrub-1080p30-gop60-14mbps.mp4";
    makeMedia(file, "-f lavfi -i testsrc2=s=1920x1080:r=30,noise=alls=6:allf=t" + gop60);
    Surfaces surfaces;
    coldSeeks(surfaces, typical, "a typical source (6.6 Mbit/s)");
    coldSeeks(surfaces, file, "a grainy source (13.6 Mbit/s)");

    // Cached (grainy source): a slow drag forward over one second, frame by
    // frame, then back over the same frames.
    ScrubPlayer player;
    surfaces.scrub.setSource(&player);
    player.setItem(file.string());
    for (int k = 60; k <= 90; ++k)
        timedSeek(player, (k + 0.5) / 30);
    std::vector<double> cached;
    for (int k = 90; k >= 60; --k)
        cached.push_back(timedSeek(player, (k + 0.5) / 30).exactMs);
    const Stats c = stats(cached);
    report("seek back over frames just seen, slowest", c.max, "ms", 10);
    std::printf("  %-52s %9.1f ms\n", "  mean", c.mean);

    // A drag: 30 seeks 16 ms apart across two GOPs, while a 1 ms timer
    // measures how late the UI thread gets to it.
    ScrubPlayer dragged;
    surfaces.scrub.setSource(&dragged);
    dragged.setItem(file.string());
    timedSeek(dragged, 0.2);
    std::vector<double> lateness, inCall;
    int64_t lastTickUs = steadyNowUs();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const int64_t now = steadyNowUs();
        lateness.push_back((now - lastTickUs) / 1000.0 - 1.0);
        lastTickUs = now;
    });
    int issued = 0, completed = 0, finished = 0;
    // When each seek was made and when pictures changed.
    std::vector<int64_t> seekUs, pictureUs;
    auto pictures = QObject::connect(&dragged, &FrameSource::frameChanged,
                                     [&] { pictureUs.push_back(steadyNowUs()); });
    QTimer drag;
    drag.setTimerType(Qt::PreciseTimer);
    drag.setInterval(16);
    QObject::connect(&drag, &QTimer::timeout, [&] {
        const int64_t start = steadyNowUs();
        seekUs.push_back(start);
        dragged.seek(0.3 + issued * 0.12, 1 / 30.0, [&](bool f) {
            ++completed;
            finished += f;
        });
        inCall.push_back((steadyNowUs() - start) / 1000.0);
        if (++issued == 30)
            drag.stop();
    });
    lastTickUs = steadyNowUs();
    probe.start();
    drag.start();
    require(waitFor([&] { return completed == 30; }, 20000), "30 seeks");
    probe.stop();
    QObject::disconnect(pictures);
    // For each seek, how long until the picture changed (whichever seek
    // the new picture came from).
    std::vector<double> untilPicture;
    for (int64_t at : seekUs) {
        const auto next = std::lower_bound(pictureUs.begin(), pictureUs.end(), at);
        if (next != pictureUs.end())
            untilPicture.push_back((*next - at) / 1000.0);
    }
    std::printf("Drag: 30 seeks 16 ms apart, %d of them shown exactly, the rest superseded\n",
                finished);
    report("longest wait for a new picture after a seek", stats(untilPicture).max, "ms", 50);
    std::printf("  %-52s %9.1f ms  (%zu pictures)\n", "  mean", stats(untilPicture).mean,
                pictureUs.size());
    report("longest UI thread stall (1 ms timer lateness)", stats(lateness).max, "ms", 5);
    std::printf("  %-52s %9.3f ms\n", "longest time inside seek()", stats(inCall).max);
}

int64_t residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

// Memory while looping a 350-frame 1080p file.
void memory(const fs::path& media) {
    const fs::path file = media / "long350-1080p30.mp4";
    makeMedia(file, "-f lavfi -i testsrc2=s=1920x1080:r=30 -f lavfi -i sine=f=330:r=48000 "
                    "-frames:v 350 -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac "
                    "-shortest");
    Surfaces surfaces;
    const int64_t before = residentKiB();
    PreviewPlayer player;
    surfaces.preview.setSource(&player);
    surfaces.preview.resize(1920, 1080); // the largest pictures a surface asks for
    player.setItem(file.string(), Player::Looping::on);
    player.play();
    int64_t peak = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 14000) { // a full repetition and then some
        waitMs(100);
        peak = std::max(peak, residentKiB());
    }
    std::printf("Memory: looping a 350-frame 1080p file for 14 s\n");
    report("peak resident memory of the process", peak / 1024.0, "MB", 600);
    std::printf("  %-52s %9.1f MB\n", "  of which the player (peak minus before)",
                (peak - before) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    fs::path media = "/tmp/kavlo-playback-bench";
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--media")
            media = argv[i + 1];
        else if (std::string(argv[i]) == "--only")
            only = argv[i + 1];
    }
    fs::create_directories(media);
    if (only.empty() || only == "loop" || only == "av")
        loopAndSync(media, only != "av", only != "loop");
    if (only.empty() || only == "scrub")
        scrub(media);
    if (only.empty() || only == "memory")
        memory(media);
    return 0;
}
