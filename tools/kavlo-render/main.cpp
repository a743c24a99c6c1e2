// kavlo-render: renders a ping-pong loop from the command line.
//
//   kavlo-render INPUT -o OUTPUT --start S --end E [--speed X] [--loops N]
//                [--format mp4|gif|webp|webm] [--no-sound] [--preview]
//                [--within WxH] [--max-size SIZE] [--preset NAME]
//   kavlo-render --list-presets
//
// Writes an MP4, a GIF, an animated WebP or a WebM, as --format says or else
// as OUTPUT's extension does (MP4 for any other); when the source has sound,
// the MP4's and the WebM's sound plays forward and backward with the
// picture. A
// progress bar goes to stderr when it is a terminal. On failure, or on
// Ctrl-C, the exit status is non-zero and OUTPUT is left as it was.
#include "media/error.h"
#include "media/library_log.h"
#include "render/render_export.h"
#include "render/size_budget.h"

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
    "  --no-sound  an MP4 or WebM without sound\n"
    "  --preview   compress an MP4 faster, as the app's preview does\n"
    "  --within WxH  an MP4 scaled down to fit inside WxH, as the preview is for\n"
    "              the area that shows it\n"
    "  --max-size SIZE  keep the file within SIZE bytes (or kB, MB: decimal)\n"
    "  --preset NAME    the format, budget and limits of a place to post to\n"
    "  --list-presets   show the presets and exit\n";

struct Options {
    std::string input, output;
    std::optional<double> start, end;
    double speed = 1.0;
    int loops = 1;
    std::optional<kavlo::ExportFormat> format;
    bool sound = true;
    bool preview = false;
    kavlo::RenderSize within;
    std::optional<uint64_t> maxSize;
    std::string preset;
    bool listPresets = false;
};

// A bad value says what was wrong in one line.
struct BadValue {
    std::string line;
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
        } else if (arg == "--within") {
            const std::string v = value() ? argv[i] : "";
            const std::size_t x = v.find('x');
            ok = x != std::string::npos && parseNumber(v.substr(0, x).c_str(), o.within.width) &&
                 parseNumber(v.substr(x + 1).c_str(), o.within.height) && o.within.width > 0 &&
                 o.within.height > 0;
        } else if (arg == "--max-size") {
            const char* v = value();
            if (v)
                o.maxSize = kavlo::parseByteSize(v);
            if (!o.maxSize)
                throw BadValue{"--max-size needs a size such as 10000000, 500kB or 9.5MB" +
                               std::string(v ? ", not '" + std::string(v) + "'" : "")};
        } else if (arg == "--preset") {
            const char* v = value();
            if (!v || !*v)
                throw BadValue{"--preset needs a name (see --list-presets)"};
            o.preset = v;
        } else if (arg == "--list-presets") {
            o.listPresets = true;
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
    if (o.listPresets)
        return o;
    if (o.input.empty() || o.output.empty() || !o.start || !o.end)
        return std::nullopt;
    return o;
}

void listPresets(const std::vector<kavlo::ExportPreset>& presets) {
    // SIZE: the box the picture fits in; "framed": the file is that box,
    // with transparent margins where the picture's shape differs.
    std::printf("%-18s %-5s %-9s %-16s %-7s %s\n", "NAME", "TYPE", "BUDGET", "SIZE", "MAX FPS",
                "WHY");
    for (const kavlo::ExportPreset& p : presets) {
        std::string size = "-";
        if (p.maxSize.width > 0 || p.maxSize.height > 0)
            size = std::to_string(p.maxSize.width) + "x" + std::to_string(p.maxSize.height) +
                   (p.squareCanvas ? " framed" : "");
        const std::string fps = p.maxFrameRate > 0 ? std::to_string(int(p.maxFrameRate)) : "-";
        std::printf("%-18s %-5s %-9s %-16s %-7s %s\n", p.name.c_str(),
                    std::string(kavlo::exportFormatName(p.format)).c_str(),
                    p.maxBytes ? kavlo::formatFileSize(double(p.maxBytes)).c_str() : "-",
                    size.c_str(), fps.c_str(), p.reason.c_str());
    }
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
        last_ = -1;
    }

  private:
    bool enabled_;
    int last_ = -1;
};

} // namespace

int main(int argc, char** argv) {
    kavlo::limitLibraryLogToErrors();
    kavlo::returnLargeBuffersToTheSystem();
    std::optional<Options> options;
    try {
        options = parseArguments(argc, argv);
    } catch (const BadValue& bad) {
        std::fprintf(stderr, "kavlo-render: %s\n", bad.line.c_str());
        return 2;
    }
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const kavlo::PresetTable presets = kavlo::loadPresets(kavlo::presetsFilePath());
    if (!presets.problem.empty())
        std::fprintf(stderr, "kavlo-render: %s\n", presets.problem.c_str());
    if (options->listPresets) {
        listPresets(presets.presets);
        return 0;
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

    // Settled before the signal thread starts: returning with it running would wait on it.
    // A budget or a preset goes through the budget's search.
    std::optional<kavlo::ExportRequest> budgeted;
    if (options->maxSize || !options->preset.empty()) {
        const std::optional<kavlo::ExportFormat> named =
            options->format ? options->format : kavlo::exportFormatOf(options->output);
        kavlo::ExportRequest request;
        if (!options->preset.empty()) {
            const kavlo::ExportPreset* preset = kavlo::findPreset(presets.presets, options->preset);
            if (!preset) {
                std::fprintf(stderr, "kavlo-render: no preset is named '%s' (see --list-presets)\n",
                             options->preset.c_str());
                return 2;
            }
            request = kavlo::requestFor(*preset);
            if (named && *named != preset->format) {
                std::fprintf(stderr,
                             "kavlo-render: the preset '%s' writes %s; name the output .%s or "
                             "leave --format out\n",
                             preset->name.c_str(),
                             std::string(kavlo::exportFormatWithArticle(preset->format)).c_str(),
                             std::string(kavlo::exportFormatName(preset->format)).c_str());
                return 2;
            }
        } else {
            request.format = named.value_or(kavlo::ExportFormat::mp4);
        }
        if (options->maxSize)
            request.maxBytes = *options->maxSize;
        request.source = options->input;
        request.trimStart = *options->start;
        request.trimEnd = *options->end;
        request.speed = options->speed;
        request.loops = options->loops;
        request.limits.sound = request.limits.sound && options->sound;
        budgeted = request;
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
        budgeted ? budgeted->format
                 : options->format.value_or(
                       kavlo::exportFormatOf(output).value_or(kavlo::ExportFormat::mp4));
    ProgressBar bar(isatty(STDERR_FILENO));
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    try {
        const auto onProgress = [&](double p) { bar.update(p); };
        kavlo::RenderResult result;
        if (budgeted) {
            const kavlo::BudgetOutcome outcome =
                kavlo::renderWithinBudget(*budgeted, output, onProgress, stop.get_token());
            result = outcome.result;
            bar.finish();
            const kavlo::BudgetSettings& s = outcome.settings;
            std::fprintf(stderr,
                         "kavlo-render: chose %s %dx%d at %.1f fps, quality %.2f (0 best, 1 "
                         "lowest)%s, after %d full encode%s\n",
                         std::string(kavlo::exportFormatTitle(s.format)).c_str(),
                         outcome.size.width, outcome.size.height, outcome.frameRate, s.quality,
                         s.canvas.width > 0 ? (" in a " + std::to_string(s.canvas.width) + "x" +
                                               std::to_string(s.canvas.height) + " canvas")
                                                  .c_str()
                                            : "",
                         outcome.fullEncodes, outcome.fullEncodes == 1 ? "" : "s");
            for (const kavlo::BudgetOutcome::Attempt& a : outcome.attempts)
                std::fprintf(stderr, "kavlo-render:   full encode: expected %s, wrote %s\n",
                             kavlo::formatFileSize(double(a.predicted)).c_str(),
                             kavlo::formatFileSize(double(a.bytes)).c_str());
        } else {
            kavlo::ExportSettings settings;
            settings.format = format;
            settings.loops = options->loops;
            if (options->preview)
                settings.mp4.video = kavlo::H264Settings::forPreview();
            // Fitted, it writes the pictures of a full-size export, as the
            // app's preview does.
            settings.mp4.fitWithin = options->within;
            settings.mp4.rateAsAtFullSize = options->within.width > 0;
            settings.mp4.sound = options->sound;
            settings.webm.sound = options->sound;
            result = kavlo::renderExport(options->input, output, *options->start, *options->end,
                                         options->speed, settings, onProgress, stop.get_token());
        }
        bar.finish();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::error_code sizeError;
        const auto bytes = std::filesystem::file_size(output, sizeError);
        std::fprintf(stderr, "kavlo-render: %d frames at %.3f fps -> %s (%s, %llu bytes, %.2f s)\n",
                     result.sourceFrameCount, result.frameRate, output.c_str(),
                     std::string(kavlo::exportFormatName(format)).c_str(),
                     sizeError ? 0ull : static_cast<unsigned long long>(bytes), seconds);
        if (!sizeError && budgeted && budgeted->maxBytes)
            std::fprintf(stderr, "kavlo-render: wrote %s of a budget of %s\n",
                         kavlo::formatFileSize(double(bytes)).c_str(),
                         kavlo::formatFileSize(double(budgeted->maxBytes)).c_str());
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
