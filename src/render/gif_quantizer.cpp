#include "render/gif_quantizer.h"

#include "media/error.h"
#include "render/render_types.h"

#include <libimagequant.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kavlo {

namespace {

struct AttrDeleter {
    void operator()(liq_attr* p) const noexcept { liq_attr_destroy(p); }
};
struct HistogramDeleter {
    void operator()(liq_histogram* p) const noexcept { liq_histogram_destroy(p); }
};
struct ImageDeleter {
    void operator()(liq_image* p) const noexcept { liq_image_destroy(p); }
};
struct ResultDeleter {
    void operator()(liq_result* p) const noexcept { liq_result_destroy(p); }
};
using ResultPtr = std::unique_ptr<liq_result, ResultDeleter>;

constexpr int kMaxColours = 255;
// Remapping to a given palette is as good at every speed up to 5; above it,
// libimagequant stops finding where dithering is needed on one-core
// machines, and files of smooth gradients grow by a seventh.
constexpr int kRemapSpeed = 5;

// Grain (see grainBetween) up to kQuiet is dithered fully, from kGrainy on
// not at all. The benchmark's clean camera clip measures 2 to 4, its fine
// grain 25 and its heavy grain 240: without dithering the fine grain's GIF
// is 3 % smaller at an SSIM 0.004 higher.
constexpr double kQuiet = 4, kGrainy = 16;
// However grainy: a larger hold would keep scene cuts.
constexpr int kMostHoldDistance = 64;

[[noreturn]] void throwFrameFailed() {
    throw kavloError(kGifFrameFailed, "Could not render GIF frame");
}

void check(liq_error status, const std::stop_token& stop) {
    if (status == LIQ_ABORTED)
        throwIfCancelled(stop);
    if (status != LIQ_OK)
        throwFrameFailed();
}

// libimagequant polls this during its long loops; returning 0 aborts them.
int keepGoing(float, void* stopToken) {
    return static_cast<const std::stop_token*>(stopToken)->stop_requested() ? 0 : 1;
}

// The camera's grain in `now` against `before` (R, G, B, A bytes): the
// variance of the colour change within each 16x16 block, summed over R, G
// and B, in the tenth of the blocks where it is least. Where nothing moves
// what changes is grain; the variance leaves out a change the whole block
// shares (a fade, a change of exposure).
double grainBetween(const std::vector<uint8_t>& now, const std::vector<uint8_t>& before, int width,
                    int height) {
    constexpr int kBlock = 16;
    const int columns = width / kBlock, rows = height / kBlock;
    if (columns == 0 || rows == 0)
        return 0;
    struct Sums {
        int64_t sum[3] = {}, squares = 0;
    };
    std::vector<Sums> sums(columns);
    std::vector<double> blocks;
    blocks.reserve(std::size_t(columns) * rows);
    for (int y = 0; y < rows * kBlock; ++y) {
        const std::size_t row = std::size_t(y) * width * 4;
        for (int bx = 0; bx < columns; ++bx) {
            const uint8_t* a = now.data() + row + std::size_t(bx) * kBlock * 4;
            const uint8_t* b = before.data() + row + std::size_t(bx) * kBlock * 4;
            Sums& block = sums[bx];
            for (int x = 0; x < kBlock * 4; x += 4) {
                for (int c = 0; c < 3; ++c) {
                    const int d = a[x + c] - b[x + c];
                    block.sum[c] += d;
                    block.squares += d * d;
                }
            }
        }
        if (y % kBlock != kBlock - 1)
            continue;
        constexpr double n = kBlock * kBlock;
        for (Sums& block : sums) {
            double variance = double(block.squares) / n;
            for (int64_t sum : block.sum)
                variance -= double(sum) * double(sum) / (n * n);
            blocks.push_back(variance);
            block = {};
        }
    }
    const auto tenth = blocks.begin() + std::ptrdiff_t(blocks.size() / 10);
    std::nth_element(blocks.begin(), tenth, blocks.end());
    return *tenth;
}

} // namespace

struct LiqHandles {
    std::unique_ptr<liq_attr, AttrDeleter> attr;
    std::unique_ptr<liq_histogram, HistogramDeleter> histogram;
    std::unique_ptr<liq_image, ImageDeleter> image;
    ResultPtr result;

    LiqHandles(int speed, std::stop_token* stop, int colours = kMaxColours)
        : attr(liq_attr_create()) {
        if (!attr ||
            liq_set_max_colors(attr.get(), std::clamp(colours, 2, kMaxColours)) != LIQ_OK ||
            liq_set_speed(attr.get(), speed) != LIQ_OK)
            throwFrameFailed();
        liq_attr_set_progress_callback(attr.get(), keepGoing, stop);
    }

    // Converts the picture into `rgba` (bytes R, G, B, A).
    void convert(const Picture& picture, BgraConverter& converter, std::vector<uint8_t>& rgba) {
        if (!picture)
            throwFrameFailed();
        const int w = picture.width(), h = picture.height();
        image.reset();
        rgba.resize(std::size_t(w) * h * 4);
        converter.convert(picture, rgba.data(), w * 4);
        for (std::size_t i = 0; i < rgba.size(); i += 4)
            std::swap(rgba[i], rgba[i + 2]);
    }

    // Makes `image` of `rgba`; the image refers to it, which must stay
    // untouched until the next convert.
    void makeImage(std::vector<uint8_t>& rgba, int w, int h) {
        image.reset(liq_image_create_rgba(attr.get(), rgba.data(), w, h, 0));
        if (!image)
            throwFrameFailed();
    }

    void load(const Picture& picture, BgraConverter& converter, std::vector<uint8_t>& rgba) {
        convert(picture, converter, rgba);
        makeImage(rgba, picture.width(), picture.height());
    }

    void setUpRemapping(float dithering, std::stop_token* stop) {
        check(liq_set_dithering_level(result.get(), dithering), *stop);
        liq_result_set_progress_callback(result.get(), keepGoing, stop);
    }
};

GifPaletteLearner::GifPaletteLearner(const GifColourSettings& settings, std::stop_token stop)
    : stop_(std::move(stop)),
      liq_(std::make_unique<LiqHandles>(settings.speed, &stop_, settings.colours)) {
    liq_->histogram.reset(liq_histogram_create(liq_->attr.get()));
    if (!liq_->histogram)
        throwFrameFailed();
}

GifPaletteLearner::~GifPaletteLearner() = default;

void GifPaletteLearner::learn(const Picture& picture) {
    throwIfCancelled(stop_);
    liq_->load(picture, converter_, rgba_);
    check(liq_histogram_add_image(liq_->histogram.get(), liq_->attr.get(), liq_->image.get()),
          stop_);
}

GifPalette GifPaletteLearner::palette() {
    throwIfCancelled(stop_);
    liq_result* result = nullptr;
    check(liq_histogram_quantize(liq_->histogram.get(), liq_->attr.get(), &result), stop_);
    const ResultPtr owned(result);
    const liq_palette* colours = liq_get_palette(result);
    if (!colours || colours->count == 0 || colours->count > kMaxColours)
        throwFrameFailed();
    GifPalette palette;
    for (unsigned i = 0; i < colours->count; ++i)
        palette.push_back({colours->entries[i].r, colours->entries[i].g, colours->entries[i].b});
    return palette;
}

GifRemapper::GifRemapper(const GifColourSettings& settings, const GifPalette* shared,
                         std::stop_token stop)
    : settings_(settings), stop_(std::move(stop)),
      liq_(std::make_unique<LiqHandles>(shared ? kRemapSpeed : settings.speed, &stop_,
                                        shared ? kMaxColours : settings.colours)),
      ownPalettes_(shared == nullptr) {
    if (ownPalettes_)
        return;
    if (shared->empty() || shared->size() > kMaxColours)
        throwFrameFailed();
    // A histogram of no more colours than the palette may hold becomes the
    // palette as it is. Every remapper builds its own from the same colours,
    // so all of them dither alike.
    std::vector<liq_histogram_entry> entries;
    for (const GifColour& c : *shared)
        entries.push_back({{c.r, c.g, c.b, 255}, 1});
    std::unique_ptr<liq_histogram, HistogramDeleter> histogram(
        liq_histogram_create(liq_->attr.get()));
    if (!histogram)
        throwFrameFailed();
    check(liq_histogram_add_colors(histogram.get(), liq_->attr.get(), entries.data(),
                                   int(entries.size()), 0),
          stop_);
    liq_result* result = nullptr;
    check(liq_histogram_quantize(histogram.get(), liq_->attr.get(), &result), stop_);
    liq_->result.reset(result);
    liq_->setUpRemapping(settings_.dithering, &stop_);
}

GifRemapper::~GifRemapper() = default;

IndexedFrame GifRemapper::remap(const Picture& picture) {
    load(picture);
    return remap();
}

void GifRemapper::load(const Picture& picture) {
    throwIfCancelled(stop_);
    liq_->convert(picture, converter_, rgba_);
    width_ = picture.width();
    height_ = picture.height();
    held_.clear();
    grain_ = 0;
}

void GifRemapper::hold(HoldState& state) {
    if (settings_.holdDistance <= 0)
        return;
    if (state.held.size() != rgba_.size()) {
        state.held = state.average = state.source = rgba_;
        state.grain = -1;
        return;
    }
    // Grain measured over two pictures and more: one picture's may come
    // out high where a change covers the whole picture.
    const double grain = grainBetween(rgba_, state.source, width_, height_);
    state.grain = state.grain < 0 ? grain : (state.grain + grain) / 2;
    state.source = rgba_;
    grain_ = state.grain;
    const int limit =
        std::max(settings_.holdDistance,
                 std::min(int(settings_.holdPerGrain * std::cbrt(grain_)), kMostHoldDistance));
    // A source colour this far from the average is a change of the
    // picture, not grain: the average starts again from it.
    // Twice the distance: averaging more also averages away the slow drift
    // of smooth gradients, which then move in visible steps.
    const int change = 2 * limit;
    const std::size_t pixels = rgba_.size() / 4;
    held_.assign((pixels + 63) / 64, 0);
    uint8_t* now = rgba_.data();
    uint8_t* average = state.average.data();
    uint8_t* before = state.held.data();
    auto distance = [](const uint8_t* a, const uint8_t* b) {
        const int dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
        return dr * dr + dg * dg + db * db;
    };
    for (std::size_t i = 0; i < pixels; ++i, now += 4, average += 4, before += 4) {
        if (distance(now, average) > change) {
            std::copy(now, now + 3, average);
        } else {
            for (int c = 0; c < 3; ++c)
                average[c] = uint8_t((average[c] + now[c] + 1) / 2);
        }
        if (distance(average, before) <= limit) {
            held_[i >> 6] |= uint64_t(1) << (i & 63);
        } else {
            std::copy(average, average + 3, before);
        }
        std::copy(before, before + 3, now);
    }
}

IndexedFrame GifRemapper::remap() {
    throwIfCancelled(stop_);
    if (rgba_.empty())
        throwFrameFailed();
    liq_->makeImage(rgba_, width_, height_);
    if (ownPalettes_) {
        liq_result* result = nullptr;
        check(liq_image_quantize(liq_->image.get(), liq_->attr.get(), &result), stop_);
        liq_->result.reset(result);
        liq_->setUpRemapping(settings_.dithering, &stop_);
    }

    // Grain dithers the picture as it is; dithering on top of it costs
    // bytes in every picture and lowers the SSIM.
    const double quiet = std::clamp((kGrainy - grain_) / (kGrainy - kQuiet), 0.0, 1.0);
    check(liq_set_dithering_level(liq_->result.get(), float(settings_.dithering * quiet)), stop_);
    IndexedFrame frame;
    frame.width = width_;
    frame.height = height_;
    frame.held = std::move(held_);
    held_.clear();
    frame.pixels.resize(std::size_t(frame.width) * frame.height);
    check(liq_write_remapped_image(liq_->result.get(), liq_->image.get(), frame.pixels.data(),
                                   frame.pixels.size()),
          stop_);
    // Read after remapping: a palette made for one picture is refined by it.
    const liq_palette* palette = liq_get_palette(liq_->result.get());
    if (!palette || palette->count == 0 || palette->count > kMaxColours)
        throwFrameFailed();
    frame.palette.reserve(palette->count);
    for (unsigned i = 0; i < palette->count; ++i)
        frame.palette.push_back(
            {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    return frame;
}

} // namespace kavlo
