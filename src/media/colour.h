// How decoded YUV pictures become RGB: which matrix and which range they are
// read with. Every conversion to RGB in the program goes through
// BgraConverter, so that the players, the thumbnails and the GIF frames
// show a source in the same colours.
//
// The matrix and range are settled by yuvMatrixOf and isFullRange
// (media/converters.h). The renderer keeps its pictures in YUV
// (media/picture.h); it settles the matrix of an untagged source when it
// shapes the source's frames and tags the pictures with it, because the
// guess depends on the picture's height and a render may scale or turn the
// picture across the line.
//
// HDR frames (media/tone_map.h) are tone-mapped on their way to RGB, as the
// renderer maps them, so the scrubbed picture and the thumbnails show what
// the export will.
#pragma once

#include <cstdint>
#include <memory>

struct AVFrame;

namespace kavlo {

class Frame;
class Picture;
class Scaler;
class ToneMapper;

// Converts decoded frames of any pixel format to packed 32-bit BGRA (byte
// order B, G, R, A; A = 255) of a given size. Keeps its scaler while the
// input and output stay the same. Not thread-safe: one per thread.
class BgraConverter {
  public:
    enum class Quality {
        fast,  // bilinear: pictures for the screen, made many times a second
        exact, // bicubic with accurate rounding: pictures that are saved
    };
    explicit BgraConverter(Quality quality = Quality::exact);
    ~BgraConverter();
    BgraConverter(BgraConverter&&) noexcept;
    BgraConverter& operator=(BgraConverter&&) noexcept;

    // Writes `width` x `height` pixels of `frame`, scaled, to `dst` with the
    // given row stride. Throws Error when the conversion cannot be set up.
    void convert(const Frame& frame, int width, int height, uint8_t* dst, int dstStride);
    void convert(const AVFrame* frame, int width, int height, uint8_t* dst, int dstStride);
    // The picture at its own size.
    void convert(const Picture& picture, uint8_t* dst, int dstStride);

  private:
    Quality quality_;
    std::unique_ptr<Scaler> scaler_;
    std::unique_ptr<ToneMapper> toneMapper_; // made for the first HDR frame
};

} // namespace kavlo
