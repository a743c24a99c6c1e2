// Writes palette images as an animated GIF that loops forever.
//
// Each frame is stored as the smallest rectangle that holds every pixel the
// viewer does not already show, with the pixels inside it that it does show
// written transparent; frames are never disposed, so what a viewer composes
// is the sequence of pictures added. A pixel whose new colour lies within
// `keepDistance` of the colour already shown is left as shown: dithering
// scatters neighbouring palette colours differently over every picture, and
// redrawing that noise costs most of a file while it changes nothing one
// sees. One thread writes a file.
#pragma once

#include "render/gif_quantizer.h"
#include "render/render_types.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

struct GifFileType;

namespace kavlo {

class GifWriter {
  public:
    // Creates (or truncates) the file. keepDistance: the largest squared
    // RGB distance (dr^2 + dg^2 + db^2) between a new colour and the one
    // shown at which the shown one stays; 0 redraws every change. Throws
    // Error code 7 when it cannot.
    GifWriter(const std::filesystem::path& path, int width, int height, int keepDistance = 0);
    // The same with the pictures placed at (left, top) of a larger canvas:
    // what lies outside them is never drawn, so viewers show it
    // transparent.
    GifWriter(const std::filesystem::path& path, int width, int height, int keepDistance,
              RenderSize canvas, int left, int top);
    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // Appends a picture of the writer's size shown for `delay` hundredths of
    // a second. The first picture's palette becomes the file's global colour
    // table; later pictures with another palette carry their own. Throws
    // Error code 9 when the file cannot be written, code 32 when the disk is
    // full. The pixels in `unchanged` (a mask of the writer's size, or
    // nullptr) stay as shown whatever their colour: the caller knows their
    // source did not change since they were drawn.
    void add(const IndexedFrame& frame, int delay, const PixelMask* unchanged = nullptr);
    // Ends the file. Throws Error code 9 when it cannot be completed, code
    // 32 when the disk is full.
    void finish();
    // Bytes handed to the file so far.
    uint64_t bytesWritten() const { return bytesWritten_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    struct GifCloser {
        void operator()(GifFileType* gif) const noexcept;
    };

    static int writeToFile(GifFileType* gif, const uint8_t* data, int length);
    [[noreturn]] void throwFinishFailed() const;
    void writeHeader(const GifPalette& palette);
    void writeImage(const IndexedFrame& frame, int delay, const PixelMask* unchanged);

    int width_, height_;
    int keepDistance_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::unique_ptr<GifFileType, GifCloser> gif_;
    GifPalette globalPalette_;
    bool started_ = false;
    int writeError_ = 0; // errno of the first failed write
    RenderSize canvasSize_;
    int left_ = 0, top_ = 0;
    uint64_t bytesWritten_ = 0;
    // What a viewer shows after the frames so far, as 0xRRGGBB.
    std::vector<uint32_t> canvas_;
    std::vector<uint8_t> rect_;
};

} // namespace kavlo
