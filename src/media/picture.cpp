#include "media/picture.h"

#include "media/converters.h"
#include "media/error.h"
#include "media/ffmpeg.h"

#include <cassert>
#include <cstring>

namespace kavlo {

Picture::Picture(av::FramePtr frame) : frame_(std::move(frame)) {
    assert(frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P ||
           frame_->format == AV_PIX_FMT_YUV444P || frame_->format == AV_PIX_FMT_YUVJ444P);
}

int Picture::width() const {
    return frame_ ? frame_->width : 0;
}

int Picture::height() const {
    return frame_ ? frame_->height : 0;
}

const uint8_t* Picture::plane(int index) const {
    return frame_->data[index];
}

int Picture::lineSize(int index) const {
    return frame_->linesize[index];
}

ColourTags Picture::colourTags() const {
    return {frame_->color_primaries, frame_->color_trc, frame_->colorspace, frame_->color_range};
}

Picture Picture::share() const {
    return frame_ ? Picture(av::refFrame(frame_.get())) : Picture();
}

Picture Picture::scaled(int width, int height) const {
    if (!frame_ || (frame_->width == width && frame_->height == height))
        return share();
    const auto format = AVPixelFormat(frame_->format);
    ScalerKey key;
    key.srcWidth = frame_->width;
    key.srcHeight = frame_->height;
    key.srcFormat = format;
    key.dstWidth = width;
    key.dstHeight = height;
    key.dstFormat = format;
    key.matrix = frame_->colorspace;
    key.srcFullRange = key.dstFullRange = frame_->color_range == AVCOL_RANGE_JPEG;
    key.flags = SWS_AREA;
    av::FramePtr out = av::allocFrame();
    out->width = width;
    out->height = height;
    out->format = format;
    checkAv(av_frame_get_buffer(out.get(), 0), "allocate picture");
    Scaler().scale(key, frame_.get(), out.get());
    checkAv(av_frame_copy_props(out.get(), frame_.get()), "copy picture properties");
    return Picture(std::move(out));
}

Picture Picture::tiled(int tileWidth, int tileHeight, int columns, int rows) const {
    assert(frame_ && tileWidth * columns <= frame_->width && tileHeight * rows <= frame_->height);
    av::FramePtr out = av::allocFrame();
    out->width = tileWidth * columns;
    out->height = tileHeight * rows;
    out->format = frame_->format;
    checkAv(av_frame_get_buffer(out.get(), 0), "allocate picture");
    checkAv(av_frame_copy_props(out.get(), frame_.get()), "copy picture properties");
    const bool halfChroma =
        frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            // Even corners, so that the chroma planes line up with luma.
            const int x = ((2 * column + 1) * frame_->width / (2 * columns) - tileWidth / 2) & ~1;
            const int y = ((2 * row + 1) * frame_->height / (2 * rows) - tileHeight / 2) & ~1;
            for (int p = 0; p < 3; ++p) {
                const int shift = p > 0 && halfChroma ? 1 : 0;
                const int width = tileWidth >> shift, height = tileHeight >> shift;
                const uint8_t* from =
                    frame_->data[p] + (y >> shift) * frame_->linesize[p] + (x >> shift);
                uint8_t* to = out->data[p] + row * height * out->linesize[p] + column * width;
                for (int line = 0; line < height; ++line)
                    std::memcpy(to + line * out->linesize[p], from + line * frame_->linesize[p],
                                width);
            }
        }
    }
    return Picture(std::move(out));
}

} // namespace kavlo
