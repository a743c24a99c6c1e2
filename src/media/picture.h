// Decoded pictures as the renderer keeps them: upright, at the render size,
// in planar 8-bit YUV 4:2:0. That is the encoder's own input format and takes
// 1.5 bytes a pixel instead of BGRA's 4; BGRA is made only where it is
// consumed (GIF frames, thumbnails), by BgraConverter in media/colour.h.
// Pictures for a GIF of a source with full colour resolution (4:4:4 or
// RGB: screen recordings) are kept in 4:4:4, so thin coloured strokes keep
// their colour on the way to the palette.
#pragma once

#include "media/av_ptr.h"
#include "media/colour_tags.h"

#include <cstdint>

namespace kavlo {

class Picture {
  public:
    Picture() = default;
    // Takes a YUV 4:2:0 or 4:4:4 frame (FFmpeg's YUV420P, YUVJ420P,
    // YUV444P or YUVJ444P).
    explicit Picture(av::FramePtr frame);

    int width() const;
    int height() const;
    // The media layer's own view of the frame.
    const AVFrame* frame() const { return frame_.get(); }
    explicit operator bool() const { return frame_ != nullptr; }

    // Plane 0 (luma), 1 and 2 (chroma): the first row and the bytes from
    // one row to the next.
    const uint8_t* plane(int index) const;
    int lineSize(int index) const;
    ColourTags colourTags() const;

    // Another picture on the same pixels; no copy.
    Picture share() const;
    // The picture scaled to width x height by area averaging, in its own
    // format and colours; shared when it has that size already. Throws a
    // media Error when the scaler cannot be made.
    Picture scaled(int width, int height) const;
    // A mosaic of columns x rows tiles of tileWidth x tileHeight (even),
    // each cut at full scale from the middle of its cell of a columns x
    // rows grid over the picture: a smaller picture with the same detail.
    Picture tiled(int tileWidth, int tileHeight, int columns, int rows) const;
    // Luma sample at (x, y); used by tests and diagnostics.
    uint8_t luma(int x, int y) const { return plane(0)[y * lineSize(0) + x]; }

  private:
    av::FramePtr frame_;
};

} // namespace kavlo
