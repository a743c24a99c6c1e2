// kavlo-render: renders a ping-pong loop from the command line.
//
//   kavlo-render INPUT -o OUTPUT --start S --end E [--speed X] [--loops N]
//                [--format mp4|gif|webp|webm] [--no-sound] [--preview]
//
// Writes an MP4, a GIF, an animated WebP or a WebM, as --format says or else
// as OUTPUT's extension does (MP4 for any other); when the source has sound,
// the MP4's and the WebM's sound plays forward and backward with the
// picture. A
// progress bar goes to stderr when it is a terminal. On failure, or on
// Ctrl-C, the exit status is non-zero and OUTPUT is left as it was.
#include "media/error.h"
#include "render/render_export.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: kavlo-render INPUT -o OUTPUT --start S --end E [--speed X] [--loops N]\n"
    "                    [--format mp4|gif|webp|webm] [--no-sound] [--preview]\n"
    "  Renders the segment S..E seconds of INPUT played forward and backward,\n"
    "  N times (default 1), at speed X (default 1.0), as OUTPUT.\n"
    "  --format    the file to write; by default OUTPUT's extension says (.gif, .webp,\n"
    "              .webm), MP4 otherwise. A GIF or WebP holds one cycle that repeats\n"
    "              forever; an MP4 or WebM keeps the source's sound, played forward\n"
    "              and backward with the picture.\n"
    "  --no-sound  a WebM without sound\n"
    "  --preview   compress an MP4 faster, as the app's preview does\n";

struct Options {
    std::string input, output;
    std::optional<double> start, end;
    double speed = 1.0;
    int loops = 1;
    std::optional<kavlo::ExportFormat> format;
    bool sound = true;
    bool preview = false;
};

template <typename T> bool parseNumber(const char* text, T& out) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, out);
    return ec == std::errc() && ptr == end;
}

std::optional<Options> parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        bool ok = true;
        if (arg == "-o" || arg == "--output") {
            const char* v = value();
            ok = v != nullptr;
            if (ok)
                o.output = v;
        } else if (arg == "--start" || arg == "--end" || arg == "--speed") {
            const char* v = value();
            double d = 0;
            ok = v && parseNumber(v, d) && std::isfinite(d);
            if (arg == "--start")
                o.start = d;
            else if (arg == "--end")
                o.end = d;
            else
                o.speed = d;
        } else if (arg == "--loops") {
            const char* v = value();
            ok = v && parseNumber(v, o.loops);
        } else if (arg == "--format") {
            const char* v = value();
            if (v)
                o.format = kavlo::exportFormatNamed(v);
            if (!o.format) {
                std::fprintf(stderr,
                             "kavlo-render: --format must be mp4, gif, webp or webm, not '%s'\n",
                             v ? v : "");
                std::exit(2);
            }
        } else if (arg == "--no-sound") {
            o.sound = false;
        } else if (arg == "--preview") {
            o.preview = true;
        } else if (arg == "-h" || arg == "--help") {
            return std::nullopt;
        } else if (!arg.empty() && arg[0] != '-' && o.input.empty()) {
            o.input = arg;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "kavlo-render: bad argument '%s'\n", arg.c_str());
            return std::nullopt;
        }
    }
    if (o.input.empty() || o.output.empty() || !o.start || !o.end)
        return std::nullopt;
    return o;
}

class ProgressBar {
  public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    void update(double fraction) {
        if (!enabled_)
            return;
        const int percent = static_cast<int>(fraction * 100);
        if (percent == last_)
            return;
        last_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled,
                     "########################################", kWidth - filled, "", percent);
        std::fflush(stderr);
    }
    void finish() {
        if (enabled_ && last_ >= 0)
            std::fputc('\n', stderr);
    }

  private:
    bool enabled_;
    int last_ = -1;
};

} // namespace

int main(int argc, char** argv) {
    kavlo::quietMediaLogging();
    kavlo::returnLargeBuffersToTheSystem();
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!(*options->end > *options->start)) {
        std::fputs("kavlo-render: --end must be after --start\n", stderr);
        return 2;
    }
    std::error_code sameFileError;
    if (std::filesystem::equivalent(options->input, options->output, sameFileError)) {
        std::fputs("kavlo-render: the output cannot be the input file\n", stderr);
        return 2;
    }

    // Ctrl-C and SIGTERM cancel the render; a thread waits for them so the
    // handler needs no async-signal-safety.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1); // sent by main to end the watcher
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::stop_source stop;
    std::jthread signalWatcher([&](std::stop_token) {
        int sig = 0;
        if (sigwait(&signals, &sig) == 0 && sig != SIGUSR1)
            stop.request_stop();
    });

    const std::filesystem::path output = options->output;
    const kavlo::ExportFormat format =
        options->format.value_or(kavlo::exportFormatOf(output).value_or(kavlo::ExportFormat::mp4));
    ProgressBar bar(isatty(STDERR_FILENO));
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    try {
        const auto onProgress = [&](double p) { bar.update(p); };
        kavlo::ExportSettings settings;
        settings.format = format;
        settings.loops = options->loops;
        if (options->preview)
            settings.mp4.video = kavlo::H264Settings::forPreview();
        settings.webm.sound = options->sound;
        const kavlo::RenderResult result =
            kavlo::renderExport(options->input, output, *options->start, *options->end,
                                options->speed, settings, onProgress, stop.get_token());
        bar.finish();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::error_code sizeError;
        const auto bytes = std::filesystem::file_size(output, sizeError);
        std::fprintf(stderr, "kavlo-render: %d frames at %.3f fps -> %s (%s, %llu bytes, %.2f s)\n",
                     result.sourceFrameCount, result.frameRate, output.c_str(),
                     std::string(kavlo::exportFormatName(format)).c_str(),
                     sizeError ? 0ull : static_cast<unsigned long long>(bytes), seconds);
    } catch (const kavlo::Cancelled&) {
        bar.finish();
        std::fputs("kavlo-render: cancelled\n", stderr);
        status = 130;
    } catch (const kavlo::Error& e) {
        bar.finish();
        std::fprintf(stderr, "kavlo-render: %s\n", e.what());
        status = 1;
    } catch (const std::exception& e) {
        bar.finish();
        std::fprintf(stderr, "kavlo-render: %s\n", e.what());
        status = 1;
    }
    // Wake the signal thread so it can end.
    pthread_kill(signalWatcher.native_handle(), SIGUSR1);
    return status;
}
