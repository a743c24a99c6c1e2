#include "media/av_ptr.h"

#include "media/error.h"
#include "media/ffmpeg.h"

#include <new>

namespace kavlo::av {

void InputContextDeleter::operator()(AVFormatContext* ctx) const noexcept {
    avformat_close_input(&ctx);
}
void OutputContextDeleter::operator()(AVFormatContext* ctx) const noexcept {
    if (ctx && ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
        avio_closep(&ctx->pb);
    avformat_free_context(ctx);
}
void CodecContextDeleter::operator()(AVCodecContext* ctx) const noexcept {
    avcodec_free_context(&ctx);
}
void FrameDeleter::operator()(AVFrame* frame) const noexcept {
    av_frame_free(&frame);
}
void PacketDeleter::operator()(AVPacket* packet) const noexcept {
    av_packet_free(&packet);
}
void SwsDeleter::operator()(SwsContext* ctx) const noexcept {
    sws_freeContext(ctx);
}
void SwrDeleter::operator()(SwrContext* ctx) const noexcept {
    swr_free(&ctx);
}

FramePtr allocFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr allocPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

FramePtr refFrame(const AVFrame* frame) {
    FramePtr copy = allocFrame();
    checkAv(av_frame_ref(copy.get(), frame), "reference frame");
    return copy;
}

PacketPtr refPacket(const AVPacket* packet) {
    PacketPtr copy = allocPacket();
    checkAv(av_packet_ref(copy.get(), packet), "reference packet");
    return copy;
}

} // namespace kavlo::av
