// Owning handles for every FFmpeg object the media layer uses; the objects
// are declared, not defined, so holding one needs no FFmpeg header. No av_*_free
// call appears anywhere else; objects move between owners and threads as
// unique_ptrs, never as raw pointers.
#pragma once

#include <memory>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct SwsContext;

namespace kavlo::av {

struct InputContextDeleter {
    void operator()(AVFormatContext* ctx) const noexcept;
};
// An output context also owns the file it writes to.
struct OutputContextDeleter {
    void operator()(AVFormatContext* ctx) const noexcept;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* ctx) const noexcept;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept;
};
struct SwsDeleter {
    void operator()(SwsContext* ctx) const noexcept;
};
struct SwrDeleter {
    void operator()(SwrContext* ctx) const noexcept;
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
