#include "media/av_ptr.h"

#include "media/error.h"

#include <new>

namespace kavlo::av {

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
