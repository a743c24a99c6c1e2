#include "render/sample_encoder.h"

#include "media/colour.h"
#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/frame_timing.h"
#include "media/temporary_file.h"
#include "media/webm_writer.h"
#include "render/frame_reader.h"
#include "render/gif_timing.h"
#include "render/gif_writer.h"
#include "render/ping_pong.h"
#include "render/webp_writer.h"
#include "render/written_rate.h"

#include <algorithm>
#include <cmath>
#include <dlfcn.h>
#include <memory>
#include <numeric>

namespace kavlo {

namespace {

// Runs spread over the forward half of the cycle (the backward half shows
// the same pictures), and written pictures in each.
constexpr int kRuns = 4;
constexpr int kRunPictures = 3;
// Frame-rate steps a budget may take: a run spans at most this many segment
// pictures between two of its pictures.
constexpr double kMostStep = 6;
// The segment pictures a run's window holds either side of its centre, as
// far as a run of kRunPictures at the slowest frame rate spreads; longer
// runs (GIF's) fit inside it at faster rates.
constexpr double kRunReach = kMostStep * (kRunPictures - 1) / 2.0;

// Larger pictures are weighed on a mosaic of 2 x 2 tiles of about this
// many pixels in all, cut from them at full scale so that grain and edges
// cost what they cost in the file, and the bytes scaled by the area.
// Encoding whole 1080p samples costs tens of seconds; these, a fraction.
constexpr double kSampleArea = 512.0 * 288.0;
constexpr int kTiles = 2;

constexpr int64_t kAacBitRate = 128000;
// libopus is asked for 48 kbit/s a channel; what the WebM writer's files
// hold is more: a third more in mono, three fifths more in stereo (the
// benchmark's corpus).
double opusBytesPerSecond(int channels) {
    return (channels == 1 ? 1.35 : 1.6) * 48000.0 / 8 * channels;
}
// x264 spends less on the pictures after the first of a short run than on
// those of a long stream, more so on grain: on a 1080p pan with grain, the
// pictures after the first of three-picture runs cost 0.56 of a
// thirty-picture stream's, of eight-picture runs 0.86 (on a synthetic
// pattern with noise, 1.11 and 1.06). H.264 runs are eight pictures long.
constexpr int kH264RunPictures = 8;

// x264 does not spend on a whole picture what its mosaic's bytes per
// pixel say, and which way it errs depends on what it codes. Where the
// pictures after the first cost much of the first (grain x264 keeps), the
// whole picture costs more a pixel than its tiles: 1.84 times on the
// benchmark's 1080p pan with grain at CRF 18. Where they cost little (a
// clean pan, or grain quantised away at a lower quality) it costs less,
// the lower the quality the less: 0.83 to 0.46 of the mosaic's. Grain
// fades out of the samples over fewer steps of quality than out of the
// whole picture (between CRF 18 and 22 the file shrinks 18 times), hence
// the square of the share. Fitted on both pans at nine qualities
// (bench_budget --probe), the bytes grow as the ratio of the areas to this
// power: within 10 % from CRF 18 to 22, within a third at lower qualities.
double h264Growth(double areaRatio, double quality, double changeShare) {
    if (areaRatio <= 1)
        return 1;
    // Shares above those of the fit (0.43) are taken as that.
    const double share = std::clamp(changeShare, 0.005, 0.43);
    const double exponent = std::clamp(
        0.681 - 0.316 * quality + 0.184 * std::log(share) - 1.653 * share * share, -0.4, 0.4);
    return std::pow(areaRatio, exponent);
}

// A GIF keeps a pixel as it was until it has drifted far enough from the
// picture: at the lower qualities of a budget, most of a slow pan's pixels
// are kept for several pictures, so runs of three saw a third too few of
// them change (a 10 MB budget at 1080p came out at 125 %). There, GIF runs
// are as long as each run's window allows, up to eight pictures; at the
// export's own quality few pixels are kept long, and three suffice.
constexpr int kGifRunPictures = 8;
int gifRunPictures(double step, double quality) {
    if (quality < 0.5)
        return kRunPictures;
    return std::clamp(1 + static_cast<int>(2 * kRunReach / step), kRunPictures, kGifRunPictures);
}

int edgeTrim(int n) {
    return n < 5 ? 0 : n < 8 ? 1 : 2;
}

double area(RenderSize size) {
    return double(size.width) * double(size.height);
}

// The mosaic the samples of pictures of `size` are encoded as; `size`
// itself when it is small already.
RenderSize mosaicOf(RenderSize size) {
    if (area(size) <= 1.5 * kSampleArea)
        return size;
    const double scale = std::sqrt(kSampleArea / area(size));
    auto side = [scale](int length) {
        return kTiles * std::max(static_cast<int>(std::lround(length * scale / kTiles / 8)) * 8, 8);
    };
    return {side(size.width), side(size.height)};
}

// libimagequant shares its work among OpenMP threads, which spin for a
// while after each piece of it waiting for the next: on two cores, samples
// made in the background took the other core from the preview, and the
// spinning took longer than the work. Samples are small; the thread that
// makes them makes them alone. (The wait policy cannot be changed from
// here: libgomp reads it once, as the program loads.)
void useOneOpenMpThread() {
    thread_local bool done = false;
    if (done)
        return;
    done = true;
    using SetThreads = void (*)(int);
    if (auto set = reinterpret_cast<SetThreads>(dlsym(RTLD_DEFAULT, "omp_set_num_threads")))
        set(1);
}

double mean(const std::vector<double>& values) {
    if (values.empty())
        return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

// Bytes of each packet of a run, and which were key frames.
struct RunPackets {
    std::vector<double> key, other;
};

void collect(Encoder& encoder, RunPackets& out) {
    Packet packet;
    while (encoder.receive(packet))
        (packet.isKey() ? out.key : out.other).push_back(double(packet.size()));
}

void encodeRun(const EncoderSettings& settings, const std::vector<Picture>& run, RunPackets& out) {
    Encoder encoder(settings);
    for (std::size_t i = 0; i < run.size(); ++i) {
        encoder.send(run[i], static_cast<int64_t>(i));
        collect(encoder, out);
    }
    encoder.sendEnd();
    collect(encoder, out);
}

} // namespace

H264Settings h264SettingsFor(double quality) {
    H264Settings settings = H264Settings::forExport();
    settings.crf += 16 * std::clamp(quality, 0.0, 1.0);
    return settings;
}

Vp9Settings vp9SettingsFor(double quality) {
    Vp9Settings settings;
    settings.crf = static_cast<int>(std::lround(32 + 28 * std::clamp(quality, 0.0, 1.0)));
    return settings;
}

WebpSettings webpSettingsFor(double quality) {
    WebpSettings settings;
    settings.quality = float(75 - 65 * std::clamp(quality, 0.0, 1.0));
    return settings;
}

GifColourSettings gifColourFor(double quality) {
    const double q = std::clamp(quality, 0.0, 1.0);
    GifColourSettings settings;
    settings.keepDistance = static_cast<int>(std::lround(18 + q * (300 - 18)));
    settings.colours = static_cast<int>(std::lround(255 - q * (255 - 96)));
    settings.dithering *= float(1 - q * 0.6);
    return settings;
}

double sampleBias(ExportFormat format) {
    switch (format) {
    // Over the benchmark's corpus and camera-like clip (bench_budget
    // --calibrate): the geometric mean of the real size over the samples'.
    case ExportFormat::mp4:
        return 1.0;
    case ExportFormat::gif:
        return 0.97;
    case ExportFormat::webp:
        return 0.775;
    case ExportFormat::webm:
        return 1.0;
    }
    return 1.0;
}

SampleModel::SampleModel(const ExportRequest& request, std::stop_token stop,
                         const ProgressCallback& progress, const SampleModel* earlier)
    : request_(request), stop_(std::move(stop)) {
    InputFile file(request.source.string());
    hasSound_ = file.info().audio.has_value();
    if (hasSound_)
        channels_ = std::clamp(file.info().audio->channelCount, 1, 8);
    const SegmentPlan plan =
        planSegment(file, request.trimStart, request.trimEnd, request.limits.maxSize,
                    request.format == ExportFormat::gif);
    fullChroma_ = plan.fullChroma;
    size_ = plan.size;
    for (RenderSize level = size_;; level = {level.width / 2 & ~1, level.height / 2 & ~1}) {
        // The tiles of the sizes this level serves are cut, in its pixels,
        // from at most twice their own width and height around each cell's
        // middle.
        const RenderSize mosaic = mosaicOf(level);
        const RenderSize region = {(mosaic.width + 32) & ~7, (mosaic.height + 32) & ~7};
        const bool whole = area(level) <= 8 * kSampleArea || kTiles * region.width >= level.width ||
                           kTiles * region.height >= level.height;
        levels_.push_back({level, whole ? RenderSize{} : region});
        if (whole)
            break;
    }
    frameRate_ = plan.frameRate;
    frameCount_ = static_cast<int>(plan.expected);
    origin_ = request.trimStart * frameRate_;
    if (earlier && !(earlier->request_.source == request.source && earlier->size_ == size_ &&
                     earlier->fullChroma_ == fullChroma_ && earlier->frameRate_ == frameRate_))
        earlier = nullptr;

    // Each run's window: its centre, and as far either side as the slowest
    // frame rate spreads its pictures. A window the model before had in
    // the same quarter of the cycle (within half the distance between two
    // runs) is kept where it was, so that a small trim reads and encodes
    // nothing again.
    const int t = edgeTrim(frameCount_);
    const double forward = std::max(frameCount_ - 1 - 2 * t, 1);
    const double reach = kRunReach + 1;
    std::vector<int> wanted;
    for (int r = 0; r < kRuns; ++r) {
        const double even = t + (r + 0.5) * forward / kRuns;
        double centre = even;
        double nearest = forward / kRuns / 2;
        for (double before : earlier ? earlier->centres_ : std::vector<double>{}) {
            const double moved = before + earlier->origin_ - origin_;
            if (std::abs(moved - even) <= nearest && moved - reach >= 0 &&
                moved + reach <= frameCount_ - 1 && (centres_.empty() || moved > centres_.back())) {
                centre = moved;
                nearest = std::abs(moved - even);
            }
        }
        centres_.push_back(centre);
        for (int i = static_cast<int>(std::ceil(centre - reach));
             i <= static_cast<int>(std::floor(centre + reach)); ++i) {
            if (i >= 0 && i < frameCount_)
                wanted.push_back(i);
        }
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<int> missing;
    for (int i : wanted) {
        const Kept* kept = earlier ? earlier->pictureAt(origin_ + i) : nullptr;
        if (kept) {
            Kept& shared = pictures_[i];
            for (const Picture& level : *kept)
                shared.push_back(level.share());
        } else
            missing.push_back(i);
    }
    read(file, plan, missing, progress);
    checkEnoughFrames(pictures_.size());
    if (earlier) {
        // The palettes hardly change with a trim; runs of pictures this
        // model still holds weigh what they weighed.
        const std::lock_guard lock(earlier->learnt_);
        palettes_ = earlier->palettes_;
        for (const auto& [key, bytes] : earlier->runs_) {
            const std::vector<int>& steps = std::get<std::vector<int>>(key);
            if (std::all_of(steps.begin(), steps.end(),
                            [this](int step) { return pictureAt(step) != nullptr; }))
                runs_.emplace(key, bytes);
        }
    }
}

SampleModel::Kept SampleModel::keep(const Picture& picture) const {
    Kept kept;
    for (const Level& level : levels_) {
        Picture scaled = picture.scaled(level.size.width, level.size.height);
        kept.push_back(level.region.width == 0
                           ? std::move(scaled)
                           : scaled.tiled(level.region.width, level.region.height, kTiles, kTiles));
    }
    return kept;
}

Picture SampleModel::sample(const Kept& kept, RenderSize size, RenderSize mosaic) const {
    // The smallest level at least as large.
    std::size_t k = 0;
    while (k + 1 < levels_.size() && levels_[k + 1].size.width >= size.width &&
           levels_[k + 1].size.height >= size.height)
        ++k;
    const Level& level = levels_[k];
    if (level.region.width == 0) {
        Picture picture = kept[k].scaled(size.width, size.height);
        if (mosaic == size)
            return picture;
        return picture.tiled(mosaic.width / kTiles, mosaic.height / kTiles, kTiles, kTiles);
    }
    // The cells' middles scaled as the whole picture would be, and the
    // tiles cut from their middles.
    auto scale = [](int region, int to, int from, int least) {
        return std::max(kTiles * (static_cast<int>(std::lround(double(region) * to / from)) & ~1),
                        least);
    };
    const Picture regions =
        kept[k].scaled(scale(level.region.width, size.width, level.size.width, mosaic.width),
                       scale(level.region.height, size.height, level.size.height, mosaic.height));
    return regions.tiled(mosaic.width / kTiles, mosaic.height / kTiles, kTiles, kTiles);
}

double SampleModel::keptBytes() const {
    auto bytes = [](const Picture& p) {
        // Chroma planes are either as tall as the luma or half as tall.
        const bool half = 2 * p.lineSize(1) <= p.lineSize(0);
        return double(p.lineSize(0)) * p.height() +
               double(p.lineSize(1) + p.lineSize(2)) * (half ? p.height() / 2 : p.height());
    };
    double total = 0;
    for (const auto& entry : pictures_)
        for (const Picture& level : entry.second)
            total += bytes(level);
    for (const auto& entry : scaled_)
        total += bytes(entry.second);
    return total;
}

const SampleModel::Kept* SampleModel::pictureAt(double step) const {
    const auto found = pictures_.find(static_cast<int>(std::lround(step - origin_)));
    return found == pictures_.end() ? nullptr : &found->second;
}

void SampleModel::read(InputFile& file, const SegmentPlan& plan, const std::vector<int>& indices,
                       const ProgressCallback& progress) {
    // Decoding through from one window to the next, or seeking to the key
    // frame before the next: whichever decodes fewer pictures.
    if (indices.empty())
        return;
    // The container's index of key frames (made before any reader, which
    // it must not disturb).
    const DecodedStream index(file, MediaKind::video);
    std::unique_ptr<SegmentPictureReader> reader;
    int at = 0; // the index the reader gives next
    std::size_t done = 0;
    for (int wantedIndex : indices) {
        throwIfCancelled(stop_);
        if (wantedIndex >= frameCount_)
            break;
        bool seek = !reader || wantedIndex < at;
        if (!seek && wantedIndex > at + 1) {
            const double seconds = plan.trimStart + wantedIndex / frameRate_;
            const std::optional<SourceTime> key =
                index.keyFrameAtOrBefore(SourceTime::fromUs(secondsToUs(seconds)));
            seek = key && (seconds - double(key->us()) / 1e6) * frameRate_ < wantedIndex - at;
        }
        if (seek) {
            SegmentPlan from = plan;
            from.trimStart = plan.trimStart + wantedIndex / frameRate_;
            from.expected = plan.expected - wantedIndex;
            reader.reset();
            reader = std::make_unique<SegmentPictureReader>(file, from);
            at = wantedIndex;
        }
        while (at <= wantedIndex) {
            std::optional<Picture> picture = reader->next();
            if (!picture) {
                frameCount_ = at; // the track ended inside the segment
                return;
            }
            if (at == wantedIndex)
                pictures_.emplace(at, keep(*picture));
            ++at;
        }
        if (progress)
            progress(double(++done) / double(indices.size()));
    }
}

SampleModel::~SampleModel() = default;

double SampleModel::cycleSeconds() const {
    const double cycle = double(pingPongIndexSequence(frameCount_, 1).size());
    return cycle / (frameRate_ * std::max(request_.speed, 0.01));
}

RenderSize SampleModel::pictureSize(const BudgetSettings& settings) const {
    return fitRenderSize(size_, settings.fitWithin);
}

SampleModel::Written SampleModel::written(const BudgetSettings& settings) const {
    const std::vector<int> cycle = pingPongIndexSequence(frameCount_, 1);
    const double outputRate = frameRate_ * std::max(request_.speed, 0.01);
    Written w;
    if (settings.format == ExportFormat::gif || settings.format == ExportFormat::webp) {
        w.pictures = static_cast<int>(
            gifFrameTimings(cycle.size(), 1.0 / outputRate, settings.maxFrameRate).size());
    } else {
        const RenderSize size = pictureSize(settings);
        double cap = maxWrittenFrameRate(size.width, size.height);
        if (settings.maxFrameRate > 0)
            cap = std::min(cap, settings.maxFrameRate);
        w.pictures =
            static_cast<int>(capWrittenRate(cycle, cycle.size(), outputRate, cap).sequence.size());
    }
    w.pictures = std::max(w.pictures, 1);
    w.step = std::max(double(cycle.size()) / double(w.pictures), 1.0);
    return w;
}

double SampleModel::shownRate(const BudgetSettings& settings) const {
    return double(written(settings).pictures) / cycleSeconds();
}

std::vector<int> SampleModel::runSteps(int r, double step, int count) const {
    const double spread = step * (count - 1);
    const double first = centres_[r] - spread / 2;
    std::vector<int> out;
    for (int k = 0; k < count; ++k) {
        const int wantedIndex = static_cast<int>(std::lround(first + k * step));
        // The nearest kept picture (the segment may be shorter than the window).
        auto found = pictures_.lower_bound(wantedIndex);
        if (found == pictures_.end())
            found = std::prev(found);
        else if (found != pictures_.begin() && found->first != wantedIndex &&
                 wantedIndex - std::prev(found)->first < found->first - wantedIndex)
            found = std::prev(found);
        out.push_back(found->first);
    }
    return out;
}

std::vector<Picture> SampleModel::run(int r, double step, RenderSize size, RenderSize mosaic,
                                      int count) const {
    std::vector<Picture> out;
    for (int index : runSteps(r, step, count)) {
        const auto found = pictures_.find(index);
        if (!(scaledSize_ == size)) {
            scaled_.clear();
            scaledSize_ = size;
        }
        auto scaled = scaled_.find(found->first);
        if (scaled == scaled_.end())
            scaled = scaled_.emplace(found->first, sample(found->second, size, mosaic)).first;
        out.push_back(scaled->second.share());
    }
    return out;
}

std::tuple<ExportFormat, int, int, int, int, bool>
SampleModel::cacheKey(const BudgetSettings& settings) const {
    const RenderSize size = pictureSize(settings);
    return std::make_tuple(settings.format, static_cast<int>(std::lround(settings.quality * 1000)),
                           written(settings).pictures, size.width, size.height, settings.sound);
}

std::optional<double> SampleModel::knownRawBytes(const BudgetSettings& settings) const {
    const auto cached = cache_.find(cacheKey(settings));
    if (cached == cache_.end())
        return std::nullopt;
    return cached->second;
}

double SampleModel::rawBytes(const BudgetSettings& settings) {
    const RenderSize size = pictureSize(settings);
    const Written w = written(settings);
    const auto key = cacheKey(settings);
    if (const auto cached = cache_.find(key); cached != cache_.end())
        return cached->second;
    const RenderSize mosaic = mosaicOf(size);
    double bytes = pictureBytes(settings, size, mosaic, w) * area(size) / area(mosaic);
    bytes += extraBytes(settings, w);
    cache_.emplace(key, bytes);
    return bytes;
}

double SampleModel::pictureBytes(const BudgetSettings& settings, RenderSize size, RenderSize mosaic,
                                 const Written& w) {
    return settings.format == ExportFormat::gif    ? gifBytes(settings, size, mosaic, w)
           : settings.format == ExportFormat::webp ? webpBytes(settings, size, mosaic, w)
                                                   : videoBytes(settings, size, mosaic, w);
}

int SampleModel::loops(const BudgetSettings& settings) const {
    return settings.format == ExportFormat::mp4 || settings.format == ExportFormat::webm
               ? std::max(request_.loops, 1)
               : 1;
}

double SampleModel::extraBytes(const BudgetSettings& settings, const Written& w) const {
    if (settings.format == ExportFormat::gif)
        return 1;
    if (settings.format == ExportFormat::webp)
        return 0;
    const double seconds = loops(settings) * cycleSeconds();
    double bytes = 0;
    if (settings.sound && hasSound_ && settings.format == ExportFormat::mp4)
        bytes += kAacBitRate / 8.0 * seconds;
    else if (settings.sound && hasSound_ && settings.format == ExportFormat::webm)
        bytes += opusBytesPerSecond(channels_) * seconds;
    // The container's tables: a few bytes a picture, and a header.
    const double header = settings.format == ExportFormat::webm ? 400 : 1000;
    return bytes + header + 12.0 * loops(settings) * w.pictures;
}

SampleModel::RunKey SampleModel::runKey(const BudgetSettings& settings, RenderSize size,
                                        RenderSize canvas, double rate,
                                        const std::vector<int>& steps) const {
    std::vector<int> absolute;
    for (int index : steps)
        absolute.push_back(static_cast<int>(std::lround(index + origin_)));
    return {settings.format,
            static_cast<int>(std::lround(settings.quality * 1000)),
            size.width,
            size.height,
            canvas.width,
            canvas.height,
            std::llround(rate * 1000),
            std::move(absolute)};
}

template <typename Encode>
std::pair<double, double> SampleModel::weighRuns(const BudgetSettings& settings, RenderSize size,
                                                 RenderSize canvas, double rate, double step,
                                                 int count, Encode encode) {
    std::vector<double> firsts, changes;
    std::vector<int> missing;
    for (int r = 0; r < kRuns; ++r) {
        const auto found =
            runs_.find(runKey(settings, size, canvas, rate, runSteps(r, step, count)));
        if (found == runs_.end()) {
            missing.push_back(r);
            continue;
        }
        firsts.insert(firsts.end(), found->second.firsts.begin(), found->second.firsts.end());
        changes.insert(changes.end(), found->second.changes.begin(), found->second.changes.end());
    }
    if (!missing.empty()) {
        ++encodes_;
        for (const auto& [r, bytes] : encode(missing)) {
            firsts.insert(firsts.end(), bytes.firsts.begin(), bytes.firsts.end());
            changes.insert(changes.end(), bytes.changes.begin(), bytes.changes.end());
            RunKey key = runKey(settings, size, canvas, rate, runSteps(r, step, count));
            const std::lock_guard lock(learnt_);
            runs_.insert_or_assign(std::move(key), bytes);
        }
    }
    const double first = mean(firsts);
    return {first, changes.empty() ? first : mean(changes)};
}

double SampleModel::gifBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                             const Written& w) {
    const int count = gifRunPictures(w.step, settings.quality);
    const auto [first, change] =
        weighRuns(settings, picture, size, 0, w.step, count, [&](const std::vector<int>& missing) {
            useOneOpenMpThread();
            const GifColourSettings colour = gifColourFor(settings.quality);
            // The colours hardly change with the picture's size or the frame
            // rate.
            const int paletteKey = static_cast<int>(std::lround(settings.quality * 1000));
            auto learnt = palettes_.find(paletteKey);
            if (learnt == palettes_.end()) {
                GifPaletteLearner learner(colour, stop_);
                for (int r = 0; r < kRuns; ++r)
                    learner.learn(run(r, w.step, picture, size).front());
                GifPalette palette = learner.palette();
                const std::lock_guard lock(learnt_);
                learnt = palettes_.emplace(paletteKey, std::move(palette)).first;
            }
            GifRemapper remapper(colour, &learnt->second, stop_);
            const TemporaryFile file(newTemporaryPath("sample", ".gif"));
            std::vector<std::pair<int, RunBytes>> out;
            for (int r : missing) {
                const std::vector<Picture> pictures = run(r, w.step, picture, size, count);
                GifWriter writer(file.path(), size.width, size.height, colour.keepDistance);
                GifRemapper::HoldState holding;
                RunBytes bytes;
                uint64_t before = 0;
                for (std::size_t k = 0; k < pictures.size(); ++k) {
                    // Held one after the other as the render holds them.
                    remapper.load(pictures[k]);
                    remapper.hold(holding);
                    const IndexedFrame frame = remapper.remap();
                    writer.add(frame, 3, frame.held.empty() ? nullptr : &frame.held);
                    (k == 0 ? bytes.firsts : bytes.changes)
                        .push_back(double(writer.bytesWritten() - before));
                    before = writer.bytesWritten();
                }
                out.emplace_back(r, std::move(bytes));
            }
            return out;
        });
    return first + double(w.pictures - 1) * change;
}

double SampleModel::webpBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                              const Written& w) {
    // A mosaic is weighed without the margins (transparent, and nearly free).
    const RenderSize canvas = picture == size && settings.canvas.width >= size.width &&
                                      settings.canvas.height >= size.height &&
                                      !(settings.canvas == size)
                                  ? settings.canvas
                                  : size;
    const auto [first, change] = weighRuns(
        settings, picture, canvas, 0, w.step, kRunPictures, [&](const std::vector<int>& missing) {
            const bool margins = !(canvas == size);
            const int durationMs = std::max(
                static_cast<int>(std::lround(1000 * cycleSeconds() / double(w.pictures))), 11);
            const WebpSettings webp = webpSettingsFor(settings.quality);
            BgraConverter converter;
            const int stride = canvas.width * 4;
            std::vector<uint8_t> bgra(std::size_t(stride) * canvas.height);
            uint8_t* const at = bgra.data() +
                                std::size_t((canvas.height - size.height) / 2) * stride +
                                std::size_t((canvas.width - size.width) / 2) * 4;
            const TemporaryFile file(newTemporaryPath("sample", ".webp"));
            // A file of the run's first picture alone, then one of the whole
            // run: the difference is what the changes cost.
            auto weigh = [&](const std::vector<Picture>& pictures, std::size_t count) {
                WebpWriter writer(canvas.width, canvas.height, webp, margins);
                for (std::size_t k = 0; k < count; ++k) {
                    converter.convert(pictures[k], at, stride);
                    writer.add(bgra.data(), stride, durationMs);
                }
                writer.finish(file.path());
                return double(std::filesystem::file_size(file.path()));
            };
            std::vector<std::pair<int, RunBytes>> out;
            for (int r : missing) {
                throwIfCancelled(stop_);
                const std::vector<Picture> pictures = run(r, w.step, picture, size);
                const double one = weigh(pictures, 1);
                const double whole = weigh(pictures, pictures.size());
                out.emplace_back(
                    r, RunBytes{{one}, {std::max(whole - one, 0.0) / double(pictures.size() - 1)}});
            }
            return out;
        });
    return first + double(w.pictures - 1) * change;
}

double SampleModel::videoBytes(const BudgetSettings& settings, RenderSize picture, RenderSize size,
                               const Written& w) {
    const double shown = double(w.pictures) / cycleSeconds();
    const int count = settings.format == ExportFormat::mp4 ? kH264RunPictures : kRunPictures;
    const auto [first, change] = weighRuns(
        settings, picture, size, shown, w.step, count, [&](const std::vector<int>& missing) {
            const Rational rate = nearestRational(shown, 1 << 16);
            std::vector<std::pair<int, RunBytes>> out;
            for (int r : missing) {
                throwIfCancelled(stop_);
                const std::vector<Picture> pictures = run(r, w.step, picture, size, count);
                RunPackets packets;
                if (settings.format == ExportFormat::mp4) {
                    encodeRun(h264EncoderSettings(size.width, size.height, rate,
                                                  h264SettingsFor(settings.quality)),
                              pictures, packets);
                } else {
                    encodeRun(vp9EncoderSettings(size.width, size.height, rate,
                                                 vp9SettingsFor(settings.quality)),
                              pictures, packets);
                }
                out.emplace_back(r, RunBytes{packets.key, packets.other});
            }
            return out;
        });
    const double growth = settings.format == ExportFormat::mp4
                              ? h264Growth(area(picture) / area(size), settings.quality,
                                           change / std::max(first, 1.0))
                              : 1.0;
    return growth * loops(settings) * (first + double(w.pictures - 1) * change);
}

} // namespace kavlo
