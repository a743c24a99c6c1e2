// Owning handles for every FFmpeg object the media layer uses. No av_*_free
// call appears anywhere else; objects move between owners and threads as
// unique_ptrs, never as raw pointers.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kavlo::av {

struct InputContextDeleter {
    void operator()(AVFormatContext* ctx) const noexcept { avformat_close_input(&ctx); }
};
// An output context also owns the file it writes to.
struct OutputContextDeleter {
    void operator()(AVFormatContext* ctx) const noexcept {
        if (ctx && ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* ctx) const noexcept { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct SwsDeleter {
    void operator()(SwsContext* ctx) const noexcept { sws_freeContext(ctx); }
};
struct SwrDeleter {
    void operator()(SwrContext* ctx) const noexcept { swr_free(&ctx); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

// Allocation helpers; they throw std::bad_alloc instead of returning null.
FramePtr allocFrame();
PacketPtr allocPacket();
// A new reference to the same buffers as `frame`.
FramePtr refFrame(const AVFrame* frame);
PacketPtr refPacket(const AVPacket* packet);

} // namespace kavlo::av
