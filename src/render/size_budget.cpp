#include "render/size_budget.h"

#include "media/encoder.h"
#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/temporary_file.h"
#include "render/frame_reader.h"
#include "render/gif_quantizer.h"
#include "render/gif_timing.h"
#include "render/gif_writer.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "render/sample_encoder.h"
#include "render/written_rate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

namespace kavlo {

namespace {

// A full encode is aimed at this share of the budget: the model is good to
// a few percent, and anything from 90 % to 100 % is a hit.
constexpr double kAim = 0.95;
// Below this share of the budget, a file is encoded again once.
constexpr double kEnough = 0.90;
// The samples must say the loop is this much over the budget at the
// lowest settings before it is refused without a full encode: the model
// may be wrong by a little, never by this much.
constexpr double kSurelyOver = 1.25;
constexpr int kMostFullEncodes = 5;

// Each step of the frame-rate ladder shows this share of the pictures of
// the one before.
constexpr double kRateStep = 0.8;

std::string sentenceNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

[[noreturn]] void throwUnreachable(double smallestBytes, ExportFormat format) {
    throw kavloError(kBudgetUnreachable, "This loop cannot be made smaller than " +
                                             formatFileSize(smallestBytes) + " as " +
                                             std::string(exportFormatWithArticle(format)) +
                                             ". Choose a shorter selection or another format.");
}

void checkCycleLength(const ExportLimits& limits, double cycleSeconds) {
    if (limits.maxCycleSeconds <= 0 || cycleSeconds <= limits.maxCycleSeconds + 1e-6)
        return;
    const std::string who = limits.destination.empty() ? "this export" : "a " + limits.destination;
    throw kavloError(kCycleTooLong, "This loop lasts " + sentenceNumber(cycleSeconds) +
                                        " s, longer than the " +
                                        sentenceNumber(limits.maxCycleSeconds) + " s " + who +
                                        " may last. Choose a shorter selection or a higher speed.");
}

std::optional<std::string> cycleRefusal(const ExportLimits& limits, double cycleSeconds) {
    try {
        checkCycleLength(limits, cycleSeconds);
    } catch (const Error& e) {
        return e.what();
    }
    return std::nullopt;
}

BudgetSettings topSettings(const ExportRequest& request) {
    BudgetSettings s;
    s.format = request.format;
    s.maxFrameRate = request.limits.maxFrameRate;
    s.fitWithin = request.limits.maxSize;
    if (request.limits.squareCanvas)
        s.canvas = request.limits.maxSize;
    s.sound = request.limits.sound;
    return s;
}

// Where `target` lies between `low` and `high`, as a share of the way from
// one to the other in the logarithm of the size (which is close to
// straight in every knob), kept off either end.
double logShare(double target, double low, double high) {
    if (!(low > 0 && high > low))
        return 0.5;
    return std::clamp(std::log(target / low) / std::log(high / low), 0.1, 0.9);
}

bool sameRateAndSize(const BudgetSettings& a, const BudgetSettings& b) {
    return std::abs(a.maxFrameRate - b.maxFrameRate) < 1e-3 && a.fitWithin == b.fitWithin;
}

// Where two full encodes at one frame rate and size, one over the budget
// and one under, differ only in quality: the quality between them that the
// line through their log sizes puts at `target`. The samples' sizes are
// less smooth in quality than the file's, and near where an encoder stops
// keeping grain their slope can be off by half.
std::optional<BudgetSettings> between(const std::vector<BudgetOutcome::Attempt>& attempts,
                                      double budget, double target) {
    const BudgetOutcome::Attempt *over = nullptr, *under = nullptr;
    for (const BudgetOutcome::Attempt& a : attempts) {
        const bool fits = double(a.bytes) <= budget;
        const BudgetOutcome::Attempt*& side = fits ? under : over;
        if (!side || (fits ? a.bytes > side->bytes : a.bytes < side->bytes))
            side = &a;
    }
    if (!over || !under || under->bytes == 0 || !sameRateAndSize(over->settings, under->settings) ||
        std::abs(over->settings.quality - under->settings.quality) < 2e-3)
        return std::nullopt;
    BudgetSettings s = under->settings;
    s.quality += logShare(target, double(under->bytes), double(over->bytes)) *
                 (over->settings.quality - under->settings.quality);
    return s;
}

bool sameSettings(const BudgetSettings& a, const BudgetSettings& b) {
    return std::abs(a.quality - b.quality) < 1e-3 && sameRateAndSize(a, b);
}

// Reports never step back: each full encode fills a share of what is left.
class BudgetProgress {
  public:
    explicit BudgetProgress(const ProgressCallback& progress) : progress_(progress) {}
    void report(double p) {
        if (progress_ && p > last_) {
            last_ = p;
            progress_(p);
        }
    }
    ProgressCallback share(double from, double to) {
        return [this, from, to](double p) { report(from + (to - from) * p); };
    }
    double last() const { return last_; }

  private:
    const ProgressCallback& progress_;
    double last_ = 0;
};

// Chooses settings on the sample model in the stated order.
class SettingsChooser {
  public:
    SettingsChooser(SampleModel& model, const ExportRequest& request)
        : model_(model), top_(topSettings(request)) {
        const RenderSize largest = model.pictureSize(top_);
        longest_ = std::max(largest.width, largest.height);
        const ExportLimits& limits = request.limits;
        shortest_ =
            limits.fixedSize ? longest_ : std::min(longest_, std::max(limits.minLongSide, 16));
        fastest_ = model.shownRate(top_);
        slowest_ = std::min(fastest_, limits.minFrameRate);
        for (double r = fastest_; r > slowest_ * 1.001; r *= kRateStep)
            rates_.push_back(r);
        rates_.push_back(slowest_);
    }

    double correction = 1.0;
    // Searches to a fifth of a percent of the quality, not a hundredth,
    // and closer to the target: for full encodes, where a miss costs a
    // whole encode; estimates stay cheap.
    bool precise = false;

    double predict(const BudgetSettings& s) { return correction * model_.rawBytes(s); }

    BudgetSettings at(double quality, std::size_t rate, int longSide) const {
        BudgetSettings s = top_;
        s.quality = quality;
        // The top rate is the limits' own (or none), so that nothing is left
        // out that the export without a budget would show.
        if (rate > 0)
            s.maxFrameRate = rates_[rate] + 1e-6;
        if (longSide < longest_)
            s.fitWithin = {longSide, longSide};
        return s;
    }
    BudgetSettings top() const { return top_; }
    BudgetSettings bottom() const { return at(1.0, rates_.size() - 1, shortest_); }

    // The best settings whose prediction is at most `target`; none when not
    // even the lowest ones are.
    std::optional<BudgetSettings> choose(double target) {
        if (predict(top_) <= target)
            return top_;
        int side = longest_;
        std::size_t rate = 0;
        if (predict(at(1.0, 0, longest_)) > target) {
            const std::size_t slowest = rates_.size() - 1;
            if (predict(at(1.0, slowest, longest_)) > target) {
                if (predict(bottom()) > target)
                    return std::nullopt;
                side = static_cast<int>(
                    std::lround(largest(shortest_, longest_, target, 2.0, [&](double l) {
                        return predict(at(1.0, slowest, int(std::lround(l))));
                    })));
            }
            // The fastest rate at that size that still fits, on the ladder.
            std::size_t fits = slowest, over = 0;
            if (predict(at(1.0, 0, side)) <= target)
                fits = 0;
            while (fits > over + 1) {
                const std::size_t mid = (fits + over) / 2;
                if (predict(at(1.0, mid, side)) <= target)
                    fits = mid;
                else
                    over = mid;
            }
            rate = fits;
        }
        // Then as much quality as fits.
        if (predict(at(0.0, rate, side)) <= target)
            return at(0.0, rate, side);
        // Near where an encoder stops keeping grain, a hundredth of the
        // quality changes the file by a tenth.
        const double keep = largest(0.0, 1.0, target, precise ? 0.002 : 0.01,
                                    [&](double x) { return predict(at(1.0 - x, rate, side)); });
        return at(1.0 - keep, rate, side);
    }

  private:
    // The largest x in [lo, hi] whose f(x), rising with x, is at most
    // target, given f(lo) <= target < f(hi), found by interpolating the
    // logarithm of the size.
    template <typename F>
    double largest(double lo, double hi, double target, double resolution, F f) {
        double flo = f(lo), fhi = f(hi);
        const double close = precise ? 0.985 : 0.97;
        for (int step = 0; step < (precise ? 8 : 5) && hi - lo > resolution; ++step) {
            const double x = lo + logShare(target * (1 + close) / 2, flo, fhi) * (hi - lo);
            const double fx = f(x);
            if (fx <= target) {
                lo = x;
                flo = fx;
                if (fx >= target * close)
                    break;
            } else {
                hi = x;
                fhi = fx;
            }
        }
        return lo;
    }

    SampleModel& model_;
    BudgetSettings top_;
    int longest_ = 0, shortest_ = 0;
    double fastest_ = 0, slowest_ = 0;
    std::vector<double> rates_; // fastest first
};

} // namespace

ExportLimits limitsOf(const ExportPreset& preset) {
    ExportLimits limits;
    limits.maxSize = preset.maxSize;
    limits.squareCanvas = preset.squareCanvas;
    limits.fixedSize = preset.fixedSize;
    limits.maxFrameRate = preset.maxFrameRate;
    limits.minFrameRate = preset.minFrameRate;
    limits.minLongSide = preset.minLongSide;
    limits.maxCycleSeconds = preset.maxCycleSeconds;
    limits.sound = preset.sound;
    limits.destination = preset.title;
    return limits;
}

ExportRequest requestFor(const ExportPreset& preset) {
    ExportRequest request;
    request.format = preset.format;
    request.maxBytes = preset.maxBytes;
    request.limits = limitsOf(preset);
    return request;
}

ExportSettings exportSettingsFor(const ExportRequest& request, const BudgetSettings& settings) {
    ExportSettings out;
    out.format = settings.format;
    out.loops = request.loops;
    out.mp4.video = h264SettingsFor(settings.quality);
    out.mp4.fitWithin = settings.fitWithin;
    out.mp4.maxFrameRate = settings.maxFrameRate;
    out.mp4.sound = settings.sound;
    out.gif.colour = gifColourFor(settings.quality);
    out.gif.fitWithin = settings.fitWithin;
    out.gif.canvas = settings.canvas;
    out.gif.maxFrameRate = settings.maxFrameRate;
    out.webp.webp = webpSettingsFor(settings.quality);
    out.webp.fitWithin = settings.fitWithin;
    out.webp.canvas = settings.canvas;
    out.webp.maxFrameRate = settings.maxFrameRate;
    out.webm.video = vp9SettingsFor(settings.quality);
    out.webm.fitWithin = settings.fitWithin;
    out.webm.maxFrameRate = settings.maxFrameRate;
    out.webm.sound = settings.sound;
    return out;
}

namespace {

RenderResult renderTrial(const ExportRequest& request, const BudgetSettings& settings,
                         const std::filesystem::path& output, const ProgressCallback& progress,
                         std::stop_token stop) {
    return renderExport(request.source, output, request.trimStart, request.trimEnd, request.speed,
                        exportSettingsFor(request, settings), progress, std::move(stop));
}

} // namespace

BudgetOutcome renderWithinBudget(const ExportRequest& request, const std::filesystem::path& output,
                                 const ProgressCallback& progress, std::stop_token stop) {
    checkOutputIsNotSource(request.source, output);
    BudgetProgress overall(progress);
    BudgetOutcome outcome;
    if (request.maxBytes == 0 && request.limits.maxCycleSeconds <= 0) {
        outcome.settings = topSettings(request);
        outcome.result = renderTrial(request, outcome.settings, output, progress, stop);
        outcome.fullEncodes = 1;
        outcome.size = outcome.result.size;
        outcome.bytes = std::filesystem::file_size(output);
        return outcome;
    }

    // The destination is checked before the samples are read.
    std::unique_ptr<PartialOutput> best = std::make_unique<PartialOutput>(output);
    bool haveBest = false;
    SampleModel model(request, stop, overall.share(0, 0.1));
    checkCycleLength(request.limits, model.cycleSeconds());
    if (request.maxBytes == 0) {
        outcome.settings = topSettings(request);
        outcome.result =
            renderTrial(request, outcome.settings, best->path(), overall.share(0.1, 1), stop);
        outcome.fullEncodes = 1;
        outcome.size = outcome.result.size;
        outcome.bytes = std::filesystem::file_size(best->path());
        best->commit();
        return outcome;
    }

    const double budget = double(request.maxBytes);
    SettingsChooser chooser(model, request);
    chooser.correction = sampleBias(request.format);
    chooser.precise = true;
    std::optional<BudgetSettings> previous;
    double from = 0.1;
    double aim = kAim;
    for (int attempt = 0; attempt < kMostFullEncodes; ++attempt) {
        std::optional<BudgetSettings> choice = between(outcome.attempts, budget, budget * kAim);
        const bool interpolated = choice.has_value();
        if (!choice)
            choice = chooser.choose(budget * aim);
        const bool atBottom = !choice;
        if (!choice) {
            const double smallest = chooser.predict(chooser.bottom());
            if (outcome.fullEncodes == 0 && smallest > budget * kSurelyOver)
                throwUnreachable(smallest, request.format);
            choice = chooser.bottom();
        }
        if (previous && sameSettings(*previous, *choice))
            break; // the model would only try the same again
        previous = choice;
        const double predicted = interpolated ? budget * kAim : chooser.predict(*choice);
        if (outcome.fullEncodes == 0)
            outcome.estimate = static_cast<uint64_t>(predicted);

        auto trial = std::make_unique<PartialOutput>(output);
        const double to = from + (1 - from) * (attempt == 0 ? 0.85 : 0.7);
        const RenderResult result =
            renderTrial(request, *choice, trial->path(), overall.share(from, to), stop);
        from = to;
        ++outcome.fullEncodes;
        const auto bytes = std::filesystem::file_size(trial->path());
        outcome.attempts.push_back({static_cast<uint64_t>(predicted), bytes, *choice});
        if (bytes <= request.maxBytes) {
            if (!haveBest || bytes > outcome.bytes) {
                best = std::move(trial);
                haveBest = true;
                outcome.settings = *choice;
                outcome.result = result;
                outcome.size = result.size;
                outcome.bytes = bytes;
                outcome.frameRate = model.shownRate(*choice);
            }
            if (bytes >= budget * kEnough || sameSettings(*choice, chooser.top()))
                break;
        } else if (atBottom || sameSettings(*choice, chooser.bottom())) {
            if (!haveBest)
                throwUnreachable(double(bytes), request.format);
            break;
        } else {
            // The model's error is not the same at every setting: aim lower
            // after going over.
            aim *= 0.97;
        }
        chooser.correction = double(bytes) / model.rawBytes(*choice);
        // A third encode only between two that fall either side of the
        // budget.
        if (haveBest && attempt >= 1 &&
            (attempt >= 2 || !between(outcome.attempts, budget, budget * kAim)))
            break;
    }
    if (!haveBest)
        throwUnreachable(double(request.maxBytes) + 1, request.format);
    best->commit();
    overall.report(1.0);
    return outcome;
}

SizeEstimate estimateExport(const ExportRequest& request, std::stop_token stop) {
    SampleModel model(request, stop, {});
    return estimateExport(model, request);
}

SizeEstimate quickEstimate(SampleModel& model, const ExportRequest& request) {
    if (request.maxBytes == 0 || cycleRefusal(request.limits, model.cycleSeconds()))
        return estimateExport(model, request);
    SettingsChooser chooser(model, request);
    chooser.correction = sampleBias(request.format);
    const double target = double(request.maxBytes) * kAim;
    // The same export without the limits' box, when its samples were
    // encoded already, weighed by the area: bytes grow more slowly than
    // the area as a picture grows, so twice the budget is surely over.
    BudgetSettings unboxed = chooser.top();
    unboxed.fitWithin = {};
    unboxed.canvas = {};
    const std::optional<double> known = model.knownRawBytes(unboxed);
    const auto area = [](RenderSize s) { return double(s.width) * double(s.height); };
    const bool surelyOver = known && chooser.correction * *known *
                                             area(model.pictureSize(chooser.top())) /
                                             area(model.pictureSize(unboxed)) >
                                         2 * target;
    if (!surelyOver && chooser.predict(chooser.top()) <= target)
        return estimateExport(model, request);
    SizeEstimate estimate;
    estimate.bytes = static_cast<uint64_t>(double(request.maxBytes) * kAim);
    estimate.settled = false;
    return estimate;
}

SizeEstimate estimateExport(SampleModel& model, const ExportRequest& request) {
    SizeEstimate estimate;
    if (auto refusal = cycleRefusal(request.limits, model.cycleSeconds())) {
        estimate.refusal = *refusal;
        return estimate;
    }
    SettingsChooser chooser(model, request);
    chooser.correction = sampleBias(request.format);
    std::optional<BudgetSettings> choice = chooser.top();
    if (request.maxBytes > 0) {
        choice = chooser.choose(double(request.maxBytes) * kAim);
        if (!choice) {
            const double smallest = chooser.predict(chooser.bottom());
            if (smallest > double(request.maxBytes) * kSurelyOver) {
                try {
                    throwUnreachable(smallest, request.format);
                } catch (const Error& e) {
                    estimate.refusal = e.what();
                    return estimate;
                }
            }
            choice = chooser.bottom();
        }
    }
    estimate.bytes = static_cast<uint64_t>(chooser.predict(*choice));
    if (request.maxBytes > 0)
        estimate.bytes = std::min(estimate.bytes, request.maxBytes);
    estimate.size = model.pictureSize(*choice);
    estimate.frameRate = model.shownRate(*choice);
    return estimate;
}

} // namespace kavlo
