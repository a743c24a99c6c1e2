#include "render/gif_quantizer.h"

#include "media/error.h"
#include "render/render_types.h"

#include <libimagequant.h>

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

constexpr int kMaxColours = 255;

[[noreturn]] void throwFrameFailed() {
    throw kavloError(kGifFrameFailed, "Could not render GIF frame");
}

// libimagequant polls this during its long loops; returning 0 aborts them.
int keepGoing(float, void* stopToken) {
    return static_cast<const std::stop_token*>(stopToken)->stop_requested() ? 0 : 1;
}

} // namespace

struct GifQuantizer::Liq {
    std::unique_ptr<liq_attr, AttrDeleter> attr;
    std::unique_ptr<liq_histogram, HistogramDeleter> histogram;
    std::unique_ptr<liq_image, ImageDeleter> image;
    std::unique_ptr<liq_result, ResultDeleter> sharedResult;
};

GifQuantizer::GifQuantizer(const GifColourSettings& settings, std::stop_token stop)
    : settings_(settings), stop_(std::move(stop)), liq_(std::make_unique<Liq>()) {
    liq_->attr.reset(liq_attr_create());
    if (!liq_->attr || liq_set_max_colors(liq_->attr.get(), kMaxColours) != LIQ_OK ||
        liq_set_speed(liq_->attr.get(), settings_.speed) != LIQ_OK)
        throwFrameFailed();
    liq_attr_set_progress_callback(liq_->attr.get(), keepGoing, &stop_);
}

GifQuantizer::~GifQuantizer() = default;

void GifQuantizer::loadPicture(const Picture& picture) {
    throwIfCancelled(stop_);
    if (!picture)
        throwFrameFailed();
    const int w = picture.width(), h = picture.height();
    liq_->image.reset();
    rgba_.resize(std::size_t(w) * h * 4);
    converter_.convert(picture, rgba_.data(), w * 4);
    for (std::size_t i = 0; i < rgba_.size(); i += 4)
        std::swap(rgba_[i], rgba_[i + 2]);
    // The image refers to rgba_, which stays untouched until the next load.
    liq_->image.reset(liq_image_create_rgba(liq_->attr.get(), rgba_.data(), w, h, 0));
    if (!liq_->image)
        throwFrameFailed();
}

void GifQuantizer::learn(const Picture& picture) {
    if (!settings_.sharedPalette || liq_->sharedResult)
        throwFrameFailed();
    if (!liq_->histogram)
        liq_->histogram.reset(liq_histogram_create(liq_->attr.get()));
    loadPicture(picture);
    if (!liq_->histogram || liq_histogram_add_image(liq_->histogram.get(), liq_->attr.get(),
                                                    liq_->image.get()) != LIQ_OK)
        throwFrameFailed();
}

IndexedFrame GifQuantizer::quantize(const Picture& picture) {
    auto check = [this](liq_error status) {
        if (status == LIQ_ABORTED)
            throwIfCancelled(stop_);
        if (status != LIQ_OK)
            throwFrameFailed();
    };
    loadPicture(picture);

    std::unique_ptr<liq_result, ResultDeleter> ownResult;
    liq_result* result = nullptr;
    if (settings_.sharedPalette) {
        if (!liq_->sharedResult) {
            // Nothing learnt: the palette comes from this picture alone.
            if (!liq_->histogram)
                learn(picture);
            check(liq_histogram_quantize(liq_->histogram.get(), liq_->attr.get(), &result));
            liq_->sharedResult.reset(result);
            liq_->histogram.reset();
            check(liq_set_dithering_level(result, settings_.dithering));
            liq_result_set_progress_callback(result, keepGoing, &stop_);
        }
        result = liq_->sharedResult.get();
    } else {
        check(liq_image_quantize(liq_->image.get(), liq_->attr.get(), &result));
        ownResult.reset(result);
        check(liq_set_dithering_level(result, settings_.dithering));
        liq_result_set_progress_callback(result, keepGoing, &stop_);
    }

    IndexedFrame frame;
    frame.width = picture.width();
    frame.height = picture.height();
    frame.pixels.resize(std::size_t(frame.width) * frame.height);
    check(liq_write_remapped_image(result, liq_->image.get(), frame.pixels.data(),
                                   frame.pixels.size()));
    // Read after remapping: a palette made for one picture is refined by it.
    const liq_palette* palette = liq_get_palette(result);
    if (!palette || palette->count == 0 || palette->count > kMaxColours)
        throwFrameFailed();
    frame.palette.reserve(palette->count);
    for (unsigned i = 0; i < palette->count; ++i) {
        const liq_color& c = palette->entries[i];
        frame.palette.push_back({c.r, c.g, c.b});
    }
    return frame;
}

} // namespace kavlo
