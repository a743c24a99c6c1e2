// A picture ready to draw: packed 32-bit pixels, bytes in the order B, G, R,
// 0xFF, rows top to bottom. Copies share the pixels, which never change once
// the image is handed out, so images move freely between threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kavlo {

class ImagePool;

class VideoImage {
  public:
    VideoImage() = default;
    // Uninitialised pixels for the producer to fill before handing it out.
    // Rows start on 64-byte boundaries, which the SIMD converters want.
    static VideoImage allocate(int width, int height) {
        VideoImage image = shaped(width, height);
        image.pixels_ = std::shared_ptr<uint8_t[]>(newPixels(image.bytes()), std::free);
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
    friend class ImagePool;
    static VideoImage shaped(int width, int height) {
        VideoImage image;
        image.width_ = width;
        image.height_ = height;
        image.stride_ = (width * 4 + 63) & ~63;
        return image;
    }
    size_t bytes() const { return std::max<size_t>(static_cast<size_t>(stride_) * height_, 64); }
    static uint8_t* newPixels(size_t bytes) {
        void* pixels = std::aligned_alloc(64, bytes);
        if (!pixels)
            throw std::bad_alloc();
        return static_cast<uint8_t*>(pixels);
    }

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::shared_ptr<uint8_t[]> pixels_;
};

// Hands out images whose pixels come back here for reuse when their last
// copy goes, instead of being freed. The last copy of a picture is usually
// dropped by the UI thread, where freeing a few megabytes can mean
// returning pages to the system once per frame; and the producer would
// then fault fresh zeroed pages in for the next picture.
//
// Any thread; images may outlive the pool. The spares go with the pool, on
// the thread that drops it (a player's pipeline is retired off the UI
// thread): the shelf itself lives on in the images still out, and had it
// kept them, the UI thread dropping the last of those would free every
// spare at once (four 4K pictures took it 15 to 20 ms). A picture given
// back after that is freed alone.
class ImagePool {
  public:
    // Keeps at most `maxSpare` unused buffers, all of one size.
    explicit ImagePool(size_t maxSpare = 3) : shelf_(std::make_shared<Shelf>(maxSpare)) {}
    ~ImagePool() { shelf_->close(); }
    ImagePool(const ImagePool&) = delete;
    ImagePool& operator=(const ImagePool&) = delete;

    VideoImage allocate(int width, int height) {
        VideoImage image = VideoImage::shaped(width, height);
        const size_t bytes = image.bytes();
        uint8_t* pixels = shelf_->take(bytes);
        if (!pixels)
            pixels = VideoImage::newPixels(bytes);
        image.pixels_ = std::shared_ptr<uint8_t[]>(
            pixels, [shelf = shelf_, bytes](uint8_t* p) { shelf->giveBack(p, bytes); });
        return image;
    }

  private:
    class Shelf {
      public:
        explicit Shelf(size_t maxSpare) : maxSpare_(maxSpare) {}
        ~Shelf() {
            for (uint8_t* p : spare_)
                std::free(p);
        }
        // A spare buffer of `bytes`, or null; spares of another size go.
        uint8_t* take(size_t bytes) {
            std::lock_guard lock(mutex_);
            if (bytes != bytes_) {
                for (uint8_t* p : spare_)
                    std::free(p);
                spare_.clear();
                bytes_ = bytes;
            }
            if (spare_.empty())
                return nullptr;
            uint8_t* p = spare_.back();
            spare_.pop_back();
            return p;
        }
        // Frees the spares; what is given back from now on is freed.
        void close() {
            std::vector<uint8_t*> spare;
            {
                std::lock_guard lock(mutex_);
                closed_ = true;
                spare.swap(spare_);
            }
            for (uint8_t* p : spare)
                std::free(p);
        }
        void giveBack(uint8_t* p, size_t bytes) {
            {
                std::lock_guard lock(mutex_);
                if (!closed_ && bytes == bytes_ && spare_.size() < maxSpare_) {
                    spare_.push_back(p);
                    return;
                }
            }
            std::free(p);
        }

      private:
        const size_t maxSpare_;
        std::mutex mutex_;
        size_t bytes_ = 0;
        bool closed_ = false;
        std::vector<uint8_t*> spare_;
    };

    std::shared_ptr<Shelf> shelf_;
};

} // namespace kavlo
