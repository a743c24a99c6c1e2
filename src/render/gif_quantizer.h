// Reduces the renderer's pictures to palette images for GIF frames, with
// libimagequant choosing the colours and dithering.
//
// Not thread-safe: one quantizer belongs to one render.
#pragma once

#include "media/picture.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

namespace kavlo {

struct GifColour {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const GifColour&) const = default;
};

// At most 255 colours: GIF frames have 256 slots and the writer keeps one
// free for transparency.
using GifPalette = std::vector<GifColour>;

struct IndexedFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // palette indices, row after row
    GifPalette palette;
};

struct GifColourSettings {
    // One palette learnt from every picture of the cycle, or one per picture.
    // A shared palette keeps unchanged areas identical from frame to frame,
    // which the writer stores as transparency.
    bool sharedPalette = true;
    // libimagequant's dithering level, 0 (none) to 1 (full).
    float dithering = 1.0f;
    // libimagequant's speed, 1 (slowest, best palette) to 10.
    int speed = 4;
    // A shared palette is learnt from at most this many pictures, spread
    // evenly over the cycle: neighbouring frames add little to the colours
    // already seen, and learning costs as much as quantizing.
    int learnedPictures = 16;
};

class GifQuantizer {
  public:
    // Throws Cancelled from any call once `stop` is requested.
    GifQuantizer(const GifColourSettings& settings, std::stop_token stop);
    ~GifQuantizer();
    GifQuantizer(const GifQuantizer&) = delete;
    GifQuantizer& operator=(const GifQuantizer&) = delete;

    bool learnsSharedPalette() const { return settings_.sharedPalette; }
    // Adds a picture's colours to the shared palette; only before the first
    // quantize() and only with a shared palette.
    void learn(const Picture& picture);
    // The picture in palette colours, dithered. With a shared palette, the
    // palette is made from what was learnt on the first call.
    IndexedFrame quantize(const Picture& picture);

  private:
    struct Liq;

    // Converts into rgba_ and wraps it in a libimagequant image.
    void loadPicture(const Picture& picture);

    GifColourSettings settings_;
    std::stop_token stop_;
    std::unique_ptr<Liq> liq_;
    BgraConverter converter_;
    std::vector<uint8_t> rgba_;
};

} // namespace kavlo
