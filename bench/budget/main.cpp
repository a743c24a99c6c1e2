// Size budgets against the exports without one.
//
// For every preset and for budgets of 2, 5 and 10 MB on the GIF and MP4
// paths, over the test corpus and a 1080p camera-like clip (a photograph
// from mate-backgrounds panned slowly, with fine grain), prints the file's
// size against its budget, the mean SSIM against the source pictures
// (ffmpeg's ssim filter, the output scaled back to the source's size and
// shown at the source's rate), the full encodes made, the time against one
// export without a budget, and the estimate against the real size.
//
// Targets: nothing over its budget; at least 90 % of it used where the
// export without a budget is larger; at most 1.5 full encodes on average;
// estimates of exports without a budget within 20 %.
//
// With --estimates: the time from a 2 s selection of a 1080p30 clip with
// sound to every export choice estimated (as the window estimates them:
// one set of samples, every preset on them), then again after a trim and
// a speed change (starting from the samples before, as the window does),
// the bytes the samples keep between estimates (of a 4K clip too), and each
// plain export's estimate against its real size.
// Targets: at most 1 s after a change; within 20 %.
//
// With --calibrate [FORMAT]: each plain export's real size against the samples'
// prediction before correction, over the same sources. With --probe
// [FORMAT]: the prediction against the real size at nine qualities, on the
// camera-like clip and on the same pan without grain.
//
// --case NAME ("gif 10 MB", "discord") runs that export alone.
//
//   bench_budget [--camera-only | --corpus-only | --calibrate [mp4|gif|webp|webm] |
//                 --probe [FORMAT] | --estimates [--no-exports]] [--case NAME]
#include "core/error.h"
#include "render/ping_pong.h"
#include "render/presets.h"
#include "render/render_export.h"
#include "render/sample_encoder.h"
#include "render/size_budget.h"
#include "session/choice_estimates.h"
#include "support/test_corpus.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPhoto = "/usr/share/backgrounds/mate/nature/Garden.jpg";

struct Source {
    std::string name;
    fs::path path;
    double start = 0, end = 1;
    double rate = 30;
};

// 4 s of a 2560x1600 photograph drifting left at 40 px a second in a 1080p
// frame, with temporal grain as a camera's sensor gives (or without).
fs::path cameraClip(const fs::path& dir, bool grain = true) {
    const fs::path path = dir / (grain ? "camera-pan-1080p.mp4" : "clean-pan-1080p.mp4");
    test::runFfmpeg({"-loop",
                     "1",
                     "-framerate",
                     "30",
                     "-i",
                     kPhoto,
                     "-vf",
                     grain
                         ? "crop=1920:1080:x='200+40*t':y=260,noise=alls=10:allf=t+u,format=yuv420p"
                         : "crop=1920:1080:x='200+40*t':y=260,format=yuv420p",
                     "-t",
                     "4",
                     "-c:v",
                     "libx264",
                     "-preset",
                     "veryfast",
                     "-crf",
                     "14",
                     "-colorspace",
                     "bt709",
                     "-color_primaries",
                     "bt709",
                     "-color_trc",
                     "bt709",
                     path.string()});
    return path;
}

// The ffmpeg input that shows `output`: the file itself, or for an
// animated WebP (which this ffmpeg cannot decode) its pictures decoded by
// libwebp and held for their durations at the source's rate, as raw video.
std::string ssimInput(const Source& source, const fs::path& output, int pictures) {
    if (output.extension() != ".webp")
        return "-i '" + output.string() + "'";
    const test::WebpAnimation animation = test::decodeWebp(output);
    const fs::path raw = output.parent_path() / "ssim.rgb";
    std::ofstream file(raw, std::ios::binary);
    std::size_t shown = 0;
    int endMs = animation.durationsMs.empty() ? 0 : animation.durationsMs[0];
    for (int k = 0; k < pictures && !animation.pictures.empty(); ++k) {
        while (shown + 1 < animation.pictures.size() && 1000.0 * k / source.rate >= endMs)
            endMs += animation.durationsMs[++shown];
        const std::vector<uint8_t>& rgb = animation.pictures[shown].rgb;
        file.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    }
    char input[256];
    std::snprintf(input, sizeof input, "-f rawvideo -pix_fmt rgb24 -s %dx%d -r %g -i '%s'",
                  animation.width, animation.height, source.rate, raw.string().c_str());
    return input;
}

// Mean SSIM of the output's first cycle against the cycle of source
// pictures it shows; a picture smaller than the file's canvas is cut out of
// its margins first.
double meanSsim(const Source& source, const fs::path& output, RenderSize picture = {}) {
    const int n = std::max(int(std::lround((source.end - source.start) * source.rate)), 2);
    const int t = n < 5 ? 0 : n < 8 ? 1 : 2;
    const int cycle = int(pingPongIndexSequence(n, 1).size());
    char crop[64] = "";
    if (picture.width > 0)
        std::snprintf(crop, sizeof crop, "crop=%d:%d,", picture.width, picture.height);
    char graph[1024];
    std::snprintf(graph, sizeof graph,
                  "[1:v]trim=start=%.4f:end=%.4f,setpts=PTS-STARTPTS,split[a][b];"
                  "[a]trim=start_frame=%d:end_frame=%d[f];"
                  "[b]trim=start_frame=%d:end_frame=%d,reverse[r];"
                  "[f][r]concat=n=2:v=1:a=0,setpts=N/%g/TB,format=yuv420p[ref];"
                  "[0:v]%sfps=%g,trim=end_frame=%d,format=yuv420p[o];"
                  "[o][ref]scale2ref[o2][ref2];[o2][ref2]ssim",
                  source.start, source.end, t, n - 1 - t, t + 1, n - t, source.rate, crop,
                  source.rate, cycle);
    const std::string command = "ffmpeg -v info -nostats " + ssimInput(source, output, cycle) +
                                " -i '" + source.path.string() + "' -lavfi '" + graph +
                                "' -f null - 2>&1 | grep -o 'All:[0-9.]*' | tail -1";
    FILE* pipe = popen(command.c_str(), "r");
    char line[128] = {};
    if (!pipe || !std::fgets(line, sizeof line, pipe)) {
        if (pipe)
            pclose(pipe);
        return 0;
    }
    pclose(pipe);
    return std::atof(line + 4);
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Totals {
    int cases = 0, over = 0, feasible = 0, underused = 0, encodes = 0, refused = 0;
    int bindingEncodes = 0;   // of the cases where the budget binds
    double worstEstimate = 0; // exports without a budget: |estimate / real - 1|
};

// Each full encode's share of the budget, predicted -> real.
std::string attemptsText(const BudgetOutcome& outcome, uint64_t budget) {
    std::string text;
    for (const BudgetOutcome::Attempt& a : outcome.attempts) {
        char one[96];
        std::snprintf(one, sizeof one, " %.0f->%.0f%% (q%.3f %.1ffps %d)",
                      100.0 * double(a.predicted) / double(budget),
                      100.0 * double(a.bytes) / double(budget), a.settings.quality,
                      a.settings.maxFrameRate, a.settings.fitWithin.width);
        text += one;
    }
    return text;
}

// --case NAME: only the budgeted exports of that name, without the plain
// ones (every such export then counts as one where the budget binds).
std::string onlyCase;

void run(const Source& source, const fs::path& dir, Totals& totals) {
    const ExportSelection selection{source.path, source.start, source.end, 1};

    // The exports without a budget: size, time, estimate.
    struct Plain {
        uint64_t bytes = 0;
        double seconds = 0;
    };
    Plain plain[2];
    const ExportFormat formats[2] = {ExportFormat::gif, ExportFormat::mp4};
    for (int f = 0; f < 2 && !onlyCase.empty(); ++f)
        plain[f] = {~uint64_t(0), 0};
    for (int f = 0; f < 2 && onlyCase.empty(); ++f) {
        const ExportRequest request = selection.requestFor(formats[f]);
        const fs::path out = dir / ("plain." + std::string(exportFormatName(formats[f])));
        const auto estimateAt = std::chrono::steady_clock::now();
        const SizeEstimate estimate = estimateExport(request);
        const double estimateSeconds = seconds(estimateAt);
        const auto renderAt = std::chrono::steady_clock::now();
        renderWithinBudget(request, out, {});
        plain[f] = {fs::file_size(out), seconds(renderAt)};
        const double error = double(estimate.bytes) / double(plain[f].bytes) - 1;
        totals.worstEstimate = std::max(totals.worstEstimate, std::abs(error));
        std::printf("%-22s %-18s %10s %10s %6s %7.4f %3s %7.2fs %6s %+6.1f%% (estimate %.2f s)\n",
                    source.name.c_str(),
                    (std::string(exportFormatName(formats[f])) + " plain").c_str(),
                    formatFileSize(double(plain[f].bytes)).c_str(), "-", "-", meanSsim(source, out),
                    "1", plain[f].seconds, "1.00", 100 * error, estimateSeconds);
        std::fflush(stdout);
    }

    struct Case {
        std::string name;
        ExportRequest request;
    };
    std::vector<Case> cases;
    for (const ExportPreset& preset : builtInPresets())
        cases.push_back({preset.name, selection.requestFor(preset)});
    for (int f = 0; f < 2; ++f) {
        for (int mb : {2, 5, 10}) {
            ExportRequest request = selection.requestFor(formats[f]);
            request.maxBytes = uint64_t(mb) * 1'000'000;
            cases.push_back(
                {std::string(exportFormatName(formats[f])) + " " + std::to_string(mb) + " MB",
                 request});
        }
    }
    for (const Case& c : cases) {
        if (!onlyCase.empty() && c.name != onlyCase)
            continue;
        const fs::path out = dir / ("budget." + std::string(exportFormatName(c.request.format)));
        const int f = c.request.format == ExportFormat::gif ? 0 : 1;
        SizeEstimate estimate;
        try {
            estimate = estimateExport(c.request);
            const auto started = std::chrono::steady_clock::now();
            const BudgetOutcome outcome = renderWithinBudget(c.request, out, {});
            const double took = seconds(started);
            const double used = double(outcome.bytes) / double(c.request.maxBytes);
            ++totals.cases;
            totals.encodes += outcome.fullEncodes;
            if (outcome.bytes > c.request.maxBytes)
                ++totals.over;
            const bool feasible = c.request.format == formats[f] &&
                                  c.request.limits.maxSize.width == 0 &&
                                  plain[f].bytes > c.request.maxBytes;
            if (feasible) {
                ++totals.feasible;
                totals.bindingEncodes += outcome.fullEncodes;
                if (used < 0.9)
                    ++totals.underused;
            }
            const double ratio = plain[f].seconds > 0 ? took / plain[f].seconds : 0;
            std::printf(
                "%-22s %-18s %10s %10s %5.1f%% %7.4f %3d %7.2fs %6.2f %+6.1f%%  %dx%d %.1f fps "
                "q%.2f, encodes%s\n",
                source.name.c_str(), c.name.c_str(), formatFileSize(double(outcome.bytes)).c_str(),
                formatFileSize(double(c.request.maxBytes)).c_str(), 100 * used,
                meanSsim(source, out, outcome.size), outcome.fullEncodes, took, ratio,
                100 * (double(estimate.bytes) / double(outcome.bytes) - 1), outcome.size.width,
                outcome.size.height, outcome.frameRate, outcome.settings.quality,
                attemptsText(outcome, c.request.maxBytes).c_str());
        } catch (const Error& e) {
            ++totals.refused;
            std::printf("%-22s %-18s refused: %s\n", source.name.c_str(), c.name.c_str(), e.what());
        }
        std::fflush(stdout);
        fs::remove(out);
    }
}

struct Estimated {
    ChoiceSamples samples;
    std::map<ExportFormat, SizeEstimate> plain;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Every export choice estimated as the window estimates them (the same
// sequence, see choice_estimates.h), taking what it can from `earlier`;
// then the plain WebP and WebM, which the window does not show, for their
// error.
Estimated estimateAll(const ExportSelection& selection, const Estimated* earlier,
                      const char* what) {
    const auto started = std::chrono::steady_clock::now();
    const double cpuBefore = cpuSeconds();
    Estimated out;
    out.samples = readChoiceSamples(selection, earlier ? earlier->samples : ChoiceSamples{}, {});
    std::printf("%s\n  samples read %.2f s\n", what, seconds(started));
    auto encodes = [&] {
        return out.samples.palette->encodes() +
               (out.samples.video == out.samples.palette ? 0 : out.samples.video->encodes());
    };
    auto at = std::chrono::steady_clock::now();
    int before = encodes();
    auto print = [&](const std::string& choice, const SizeEstimate& e) {
        std::printf("  %-24s %10s %.2f s, %d sample encodes%s\n", choice.c_str(),
                    e.refusal.empty() ? formatFileSize(double(e.bytes)).c_str() : "refused",
                    seconds(at), encodes() - before, e.settled ? "" : " (first guess)");
        at = std::chrono::steady_clock::now();
        before = encodes();
    };
    const std::size_t choices = 2 + builtInPresets().size();
    std::set<std::string> seen;
    int unsettled = 0;
    estimateChoices(out.samples, selection, builtInPresets(),
                    [&](const std::string& choice, const SizeEstimate& e) {
                        print(choice, e);
                        for (ExportFormat format : {ExportFormat::mp4, ExportFormat::gif}) {
                            if (choice == exportFormatName(format))
                                out.plain[format] = e;
                        }
                        unsettled += !e.settled;
                        if (seen.insert(choice).second && seen.size() == choices)
                            std::printf("  a first size for every choice the window shows in "
                                        "%.2f s (%.2f s of CPU, %d presets unsettled)\n",
                                        seconds(started), cpuSeconds() - cpuBefore, unsettled);
                    });
    const ChoiceSamples& kept = out.samples;
    std::printf(
        "  every choice settled in %.2f s (%.2f s of CPU); samples kept %.0f MB\n",
        seconds(started), cpuSeconds() - cpuBefore,
        (kept.palette->keptBytes() + (kept.video == kept.palette ? 0.0 : kept.video->keptBytes())) /
            1e6);
    for (ExportFormat format : {ExportFormat::webp, ExportFormat::webm}) {
        out.plain[format] =
            estimateExport(out.samples.modelFor(format), selection.requestFor(format));
        print(std::string(exportFormatName(format)), out.plain[format]);
    }
    std::fflush(stdout);
    return out;
}

// The camera-like clip with sound: as the budget clip, but encoded either
// at a high constant quality in one group of pictures, or as a phone
// writes 1080p30 (about 16 Mbit/s, a key frame a second).
fs::path soundClip(const fs::path& dir, bool phone) {
    const fs::path clip = dir / (phone ? "phone-sound-1080p.mp4" : "camera-sound-1080p.mp4");
    std::vector<std::string> args = {
        "-loop",      "1",
        "-framerate", "30",
        "-i",         kPhoto,
        "-f",         "lavfi",
        "-i",         "sine=frequency=330:sample_rate=48000",
        "-vf",        "crop=1920:1080:x='200+40*t':y=260,noise=alls=10:allf=t+u,format=yuv420p",
        "-t",         "4",
        "-c:v",       "libx264",
        "-preset",    "veryfast"};
    const std::vector<std::string> rate =
        phone ? std::vector<std::string>{"-b:v",     "16M", "-maxrate", "20M",
                                         "-bufsize", "20M", "-g",       "30"}
              : std::vector<std::string>{"-crf", "14"};
    args.insert(args.end(), rate.begin(), rate.end());
    for (const char* a : {"-c:a", "aac", "-shortest"})
        args.push_back(a);
    args.push_back(clip.string());
    test::runFfmpeg(args);
    return clip;
}

int estimates(const fs::path& dir, bool exports) {
    {
        // The pictures the samples keep between estimates, at 4K.
        const fs::path uhd = dir / "camera-4k.mp4";
        test::runFfmpeg({"-loop", "1", "-framerate", "30", "-i", kPhoto, "-vf",
                         "scale=5120:3200,crop=3840:2160:x='400+80*t':y=520,noise=alls=10:allf=t+u,"
                         "format=yuv420p",
                         "-t", "2.5", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "18",
                         uhd.string()});
        std::printf("4K camera-like clip:\n");
        estimateAll({uhd, 0.2, 2.2, 1.0}, nullptr, "first selection");
        fs::remove(uhd);
    }
    {
        std::printf("phone-like clip (16 Mbit/s, a key frame a second):\n");
        const fs::path phone = soundClip(dir, true);
        const Estimated first = estimateAll({phone, 1.0, 3.0, 1.0}, nullptr, "first selection");
        const Estimated trimmed =
            estimateAll({phone, 1.1, 3.0, 1.0}, &first, "start trimmed to 1.1 s (target <= 1 s)");
        estimateAll({phone, 1.1, 3.0, 0.5}, &trimmed, "speed 0.5 (target <= 1 s)");
    }
    std::printf("\ncamera-like clip (CRF 14, 96 Mbit/s, one key frame):\n");
    const fs::path clip = soundClip(dir, false);
    const ExportFormat plain[] = {ExportFormat::mp4, ExportFormat::gif, ExportFormat::webp,
                                  ExportFormat::webm};
    Estimated first = estimateAll({clip, 1.0, 3.0, 1.0}, nullptr, "first selection, 1.0-3.0 s");
    // The changes a user makes next: each estimate starts from the samples
    // of the one before, as the window's do.
    const Estimated trimmed =
        estimateAll({clip, 1.1, 3.0, 1.0}, &first, "start trimmed to 1.1 s (target <= 1 s)");
    const Estimated slower =
        estimateAll({clip, 1.1, 3.0, 0.5}, &trimmed, "speed 0.5 (target <= 1 s)");
    estimateAll({clip, 1.1, 2.6, 0.5}, &slower, "end trimmed to 2.6 s (target <= 1 s)");
    const ExportSelection selected{clip, 1.0, 3.0, 1.0};
    std::map<ExportFormat, SizeEstimate>& estimated = first.plain;
    if (!exports)
        return 0;
    double worst = 0;
    for (ExportFormat format : plain) {
        const fs::path out = dir / ("plain." + std::string(exportFormatName(format)));
        const auto at = std::chrono::steady_clock::now();
        renderWithinBudget(selected.requestFor(format), out, {});
        const double real = double(fs::file_size(out));
        const double error = double(estimated[format].bytes) / real - 1;
        worst = std::max(worst, std::abs(error));
        std::printf("%-5s estimate %10s real %10s %+6.1f%% (export %.1f s)\n",
                    std::string(exportFormatName(format)).c_str(),
                    formatFileSize(double(estimated[format].bytes)).c_str(),
                    formatFileSize(real).c_str(), 100 * error, seconds(at));
        std::fflush(stdout);
    }
    std::printf("worst estimate %.1f %% off (target <= 20 %%)\n", 100 * worst);
    return 0;
}

// The samples' lean for each format: the real size of every export
// without a budget against the samples' prediction before any correction,
// over the corpus and the camera-like clip; prints each, their geometric
// mean per format (what sampleBias should say) and how far each export is
// from its estimate with the bias as it stands and with that mean.
int calibrate(const std::vector<Source>& sources, const fs::path& dir, const char* only) {
    std::vector<ExportFormat> formats;
    for (ExportFormat format :
         {ExportFormat::mp4, ExportFormat::gif, ExportFormat::webp, ExportFormat::webm}) {
        if (!only || exportFormatName(format) == only)
            formats.push_back(format);
    }
    std::map<ExportFormat, std::vector<double>> ratios;
    std::printf("%-22s %-5s %10s %10s %7s %8s\n", "source", "fmt", "real", "raw", "ratio",
                "est.err");
    for (const Source& source : sources) {
        for (ExportFormat format : formats) {
            const ExportRequest request =
                ExportSelection{source.path, source.start, source.end, 1}.requestFor(format);
            const fs::path out = dir / ("calibrate." + std::string(exportFormatName(format)));
            try {
                const double raw = double(estimateExport(request).bytes) / sampleBias(format);
                const double real = double(renderWithinBudget(request, out, {}).bytes);
                ratios[format].push_back(real / raw);
                std::printf("%-22s %-5s %10s %10s %7.3f %+7.1f%%\n", source.name.c_str(),
                            std::string(exportFormatName(format)).c_str(),
                            formatFileSize(real).c_str(), formatFileSize(raw).c_str(), real / raw,
                            100 * (raw * sampleBias(format) / real - 1));
            } catch (const Error& e) {
                std::printf("%-22s %-5s failed: %s\n", source.name.c_str(),
                            std::string(exportFormatName(format)).c_str(), e.what());
            }
            std::fflush(stdout);
            fs::remove(out);
        }
    }
    for (ExportFormat format : formats) {
        const std::vector<double>& r = ratios[format];
        if (r.empty())
            continue;
        double logSum = 0;
        for (double x : r)
            logSum += std::log(x);
        const double mean = std::exp(logSum / double(r.size()));
        double worstNow = 0, worstMean = 0;
        for (double x : r) {
            worstNow = std::max(worstNow, std::abs(sampleBias(format) / x - 1));
            worstMean = std::max(worstMean, std::abs(mean / x - 1));
        }
        std::printf("%-5s bias now %.3f: worst %.1f %% off; geometric mean %.3f: worst %.1f %% off "
                    "(target <= 20 %%)\n",
                    std::string(exportFormatName(format)).c_str(), sampleBias(format),
                    100 * worstNow, mean, 100 * worstMean);
    }
    return 0;
}

// The samples' prediction (with the format's lean) against the real file at
// nine qualities, on the pan with grain and without: what the size
// correction of mosaics is fitted on.
int probe(const fs::path& dir, ExportFormat format) {
    std::printf("%-18s %5s %10s %10s %8s\n", "source", "q", "real", "predicted", "err");
    for (bool grain : {true, false}) {
        const ExportRequest request =
            ExportSelection{cameraClip(dir, grain), 0.5, 1.5, 1}.requestFor(format);
        SampleModel model(request, {}, {});
        for (double quality : {0.0, 0.04, 0.08, 0.12, 0.16, 0.25, 0.5, 0.75, 1.0}) {
            BudgetSettings settings;
            settings.format = format;
            settings.quality = quality;
            const double predicted = sampleBias(format) * model.rawBytes(settings);
            const fs::path out = dir / ("probe." + std::string(exportFormatName(format)));
            renderExport(request.source, out, request.trimStart, request.trimEnd, 1,
                         exportSettingsFor(request, settings), {}, {});
            const double real = double(fs::file_size(out));
            std::printf("%-18s %5.2f %10s %10s %+7.1f%%\n", grain ? "pan with grain" : "clean pan",
                        quality, formatFileSize(real).c_str(), formatFileSize(predicted).c_str(),
                        100 * (predicted / real - 1));
            std::fflush(stdout);
        }
    }
    return 0;
}

} // namespace
} // namespace kavlo

int main(int argc, char** argv) {
    using namespace kavlo;
    const bool cameraOnly = argc > 1 && std::strcmp(argv[1], "--camera-only") == 0;
    const bool corpusOnly = argc > 1 && std::strcmp(argv[1], "--corpus-only") == 0;
    const bool calibrating = argc > 1 && std::strcmp(argv[1], "--calibrate") == 0;
    test::TempDir dir;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--case") == 0)
            onlyCase = argv[i + 1];
    }
    if (argc > 1 && std::strcmp(argv[1], "--probe") == 0) {
        const std::string name = argc > 2 ? argv[2] : "mp4";
        for (ExportFormat format :
             {ExportFormat::mp4, ExportFormat::gif, ExportFormat::webp, ExportFormat::webm}) {
            if (exportFormatName(format) == name)
                return probe(dir.path(), format);
        }
        return 2;
    }
    if (argc > 1 && std::strcmp(argv[1], "--estimates") == 0)
        return estimates(dir.path(), !(argc > 2 && std::strcmp(argv[2], "--no-exports") == 0));
    std::vector<Source> sources;
    if (!corpusOnly)
        sources.push_back({"camera-pan-1080p", cameraClip(dir.path()), 0.5, 1.5, 30});
    if (!cameraOnly) {
        for (const test::CorpusClip& clip : test::corpusClips())
            sources.push_back({clip.name, test::makeCorpusClip(dir.path(), clip), 0.4, 1.1,
                               clip.clip.framesPerSecond()});
    }
    if (calibrating)
        return calibrate(sources, dir.path(), argc > 2 ? argv[2] : nullptr);
    std::printf("%-22s %-18s %10s %10s %6s %7s %3s %8s %6s %7s\n", "source", "export", "size",
                "budget", "used", "SSIM", "enc", "time", "xplain", "est.err");
    Totals totals;
    for (const Source& source : sources)
        run(source, dir.path(), totals);
    std::printf("\n%d budgeted exports: %d over budget (target 0); %d of %d where the budget binds "
                "used under 90 %% (target 0); %.2f full encodes on average, %.2f where the budget "
                "binds (target <= 1.5); %d refused; worst estimate of a plain export %.1f %% off "
                "(target <= 20 %%)\n",
                totals.cases, totals.over, totals.underused, totals.feasible,
                totals.cases ? double(totals.encodes) / totals.cases : 0.0,
                totals.feasible ? double(totals.bindingEncodes) / totals.feasible : 0.0,
                totals.refused, 100 * totals.worstEstimate);
    return totals.over == 0 ? 0 : 1;
}
