// Writes palette images as an animated GIF that loops forever.
//
// Each frame is stored as the smallest rectangle that holds every pixel the
// viewer does not already show, with the pixels inside it that it does show
// written transparent; frames are never disposed, so what a viewer composes
// is exactly the sequence of pictures added. One thread writes a file.
#pragma once

#include "render/gif_quantizer.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

struct GifFileType;

namespace kavlo {

class GifWriter {
  public:
    // Creates (or truncates) the file. Throws Error code 7 when it cannot.
    GifWriter(const std::filesystem::path& path, int width, int height);
    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // Appends a picture of the writer's size shown for `delay` hundredths of
    // a second. The first picture's palette becomes the file's global colour
    // table; later pictures with another palette carry their own. Throws
    // Error code 9 when the file cannot be written, code 32 when the disk is
    // full.
    void add(const IndexedFrame& frame, int delay);
    // Ends the file. Throws Error code 9 when it cannot be completed, code
    // 32 when the disk is full.
    void finish();

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
    void writeImage(const IndexedFrame& frame, int delay);

    int width_, height_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::unique_ptr<GifFileType, GifCloser> gif_;
    GifPalette globalPalette_;
    bool started_ = false;
    int writeError_ = 0; // errno of the first failed write
    // What a viewer shows after the frames so far, as 0xRRGGBB.
    std::vector<uint32_t> canvas_;
    std::vector<uint8_t> rect_;
};

} // namespace kavlo
