// Reduces the renderer's pictures to palette images for GIF frames, with
// libimagequant choosing the colours and dithering.
//
// Each object belongs to one thread at a time; a render runs one remapper on
// each of its worker threads.
#pragma once

#include "media/colour.h"
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

// One bit a pixel, row after row, 64 pixels a word.
using PixelMask = std::vector<uint64_t>;

inline bool maskHas(const PixelMask& mask, std::size_t pixel) {
    return mask[pixel >> 6] >> (pixel & 63) & 1;
}

struct IndexedFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // palette indices, row after row
    GifPalette palette;
    // The pixels whose colour was held from the picture before (see
    // GifRemapper::hold); empty when none was.
    PixelMask held;
};

struct GifColourSettings {
    // One palette learnt from the cycle's pictures, or one per picture. A
    // shared palette keeps unchanged areas identical from frame to frame,
    // which the writer stores as transparency.
    bool sharedPalette = true;
    // A shared palette is learnt from at most this many pictures, spread
    // evenly over the cycle: neighbouring frames add little to the colours
    // already seen, and learning one costs about half as much as remapping.
    int learnedPictures = 8;
    // libimagequant's dithering level, 0 (none) to 1 (full). Dithering
    // noise is what costs most bytes in camera footage, and it lowers the
    // mean SSIM there: at 0.15 the benchmark's clean camera clip is 4 %
    // smaller than at 0.3 with an SSIM 0.01 higher. Slow ramps of flat
    // colour show steps earlier than with more dithering.
    float dithering = 0.15f;
    // A pixel whose colour changes by no more than this squared RGB distance
    // keeps the colour shown before (see GifWriter); 0 redraws every change.
    // At 18 (two or three levels a channel) the benchmark's gradient file is
    // a tenth smaller and its SSIM falls from 0.998 to 0.996; from 27 on,
    // slow gradients start to move in visible steps.
    int keepDistance = 18;
    // A pixel whose source colour (averaged over the pictures before, while
    // it changes by less than twice this) lies within this squared RGB
    // distance of the colour it had in the picture before keeps that colour
    // (0: never). Camera footage changes every pixel a little in every
    // picture (sensor grain, a slow pan over a smooth background); holding
    // what a viewer cannot tell apart lets the writer leave those pixels
    // transparent. At 10 the benchmark's clean camera clip is a quarter
    // smaller than without; from 12 on, the slow gradients of its synthetic
    // clip lose SSIM (0.9967 without, 0.9964 at 8, 0.9958 at 12).
    int holdDistance = 10;
    // Where the source is grainy the hold distance grows to this times the
    // cube root of the grain (the variance of the colour change from one
    // picture to the next where nothing moves, summed over R, G and B),
    // up to 64: grain a viewer sees as still then stays still. At 8 the
    // benchmark's fine-grain clip (grain 25, hold 23) is a fifth smaller,
    // its heavy-grain clip (grain 240, hold 49) a tenth, each at an SSIM
    // about 0.02 lower; the clean camera clip (2 to 4, hold 10 to 12)
    // barely changes, the synthetic ones (0) not at all.
    float holdPerGrain = 8;
    // libimagequant's speed for making palettes, 1 (slowest) to 10. At 6 the
    // palettes are as good as at libimagequant's default of 4, and made
    // faster; from 8 on, colours are posterized and smooth gradients suffer.
    int speed = 6;
    // The most colours a palette holds, 2 to 255. Fewer colours make
    // smaller files where a size budget asks for that.
    int colours = 255;
};

struct LiqHandles;

// Learns one palette from several pictures.
class GifPaletteLearner {
  public:
    // Throws Cancelled from any call once `stop` is requested.
    GifPaletteLearner(const GifColourSettings& settings, std::stop_token stop);
    ~GifPaletteLearner();
    GifPaletteLearner(const GifPaletteLearner&) = delete;
    GifPaletteLearner& operator=(const GifPaletteLearner&) = delete;

    void learn(const Picture& picture);
    // The palette for everything learnt; at least one picture must be.
    GifPalette palette();

  private:
    std::stop_token stop_;
    std::unique_ptr<LiqHandles> liq_;
    BgraConverter converter_;
    std::vector<uint8_t> rgba_;
};

// Turns pictures into dithered palette images.
class GifRemapper {
  public:
    // With `shared`, every picture is mapped to that palette; without, each
    // gets a palette of its own. Throws Cancelled from any call once `stop`
    // is requested, and Error code 8 when libimagequant fails.
    GifRemapper(const GifColourSettings& settings, const GifPalette* shared, std::stop_token stop);
    ~GifRemapper();
    GifRemapper(const GifRemapper&) = delete;
    GifRemapper& operator=(const GifRemapper&) = delete;

    IndexedFrame remap(const Picture& picture);

    // What hold() carries from one picture to the next, as R, G, B, A bytes:
    // the colours held so far, and a running average of the source that
    // grain moves less than each picture's own colours.
    struct HoldState {
        std::vector<uint8_t> held, average;
        // The picture before as it came, and the grain measured so far
        // (negative: none yet).
        std::vector<uint8_t> source;
        double grain = -1;
    };

    // The same in three steps, so that a sequence of pictures can be held
    // one after the other while their remapping runs in parallel: load()
    // converts the picture; hold() measures the source's grain and
    // replaces each of its pixels whose average lies within the hold
    // distance (settings.holdDistance, more for grain) of the colour held before
    // by that colour and marks it in the result's `held`, and leaves this
    // picture's colours in `state`; remap() finishes, dithering grainy
    // pictures less.
    void load(const Picture& picture);
    void hold(HoldState& state);
    IndexedFrame remap();

  private:
    GifColourSettings settings_;
    int width_ = 0, height_ = 0;
    PixelMask held_;
    double grain_ = 0;
    std::stop_token stop_;
    std::unique_ptr<LiqHandles> liq_;
    bool ownPalettes_;
    BgraConverter converter_;
    std::vector<uint8_t> rgba_;
};

} // namespace kavlo
