// A picture ready to draw: packed 32-bit pixels, bytes in the order B, G, R,
// 0xFF, rows top to bottom. Copies share the pixels, which never change once
// the image is handed out, so images move freely between threads.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

namespace kavlo {

class VideoImage {
  public:
    VideoImage() = default;
    // Uninitialised pixels for the producer to fill before handing it out.
    // Rows start on 64-byte boundaries, which the SIMD converters want.
    static VideoImage allocate(int width, int height) {
        VideoImage image;
        image.width_ = width;
        image.height_ = height;
        image.stride_ = (width * 4 + 63) & ~63;
        const size_t bytes = static_cast<size_t>(image.stride_) * height;
        void* pixels = std::aligned_alloc(64, bytes > 0 ? bytes : 64);
        if (!pixels)
            throw std::bad_alloc();
        image.pixels_ = std::shared_ptr<uint8_t[]>(static_cast<uint8_t*>(pixels), std::free);
        return image;
    }

    bool isNull() const { return !pixels_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    const uint8_t* bits() const { return pixels_.get(); }
    uint8_t* mutableBits() { return pixels_.get(); }
    // Keeps the pixels alive for whoever borrows bits() (e.g. a QImage).
    std::shared_ptr<const uint8_t[]> shared() const { return pixels_; }
    // True when both share the same pixels.
    bool sameAs(const VideoImage& other) const { return pixels_ == other.pixels_; }

  private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::shared_ptr<uint8_t[]> pixels_;
};

} // namespace kavlo
