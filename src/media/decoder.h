// A libavcodec decoder for one stream. EAGAIN and end of stream are states
// of the send/receive loop, not errors; real failures throw Error.
#pragma once

#include "media/av_ptr.h"

struct AVStream;

namespace kavlo {

class Decoder {
  public:
    // threads: 0 lets libavcodec pick; frame threading is enabled for video.
    explicit Decoder(const AVStream* stream, int threads = 0);

    // Sends a packet, or nullptr to start draining. Returns false when the
    // decoder must hand out frames before it accepts more input.
    bool send(const AVPacket* packet);
    // Receives the next frame into `frame`; false when more input is needed
    // or the decoder is fully drained (see drained()).
    bool receive(AVFrame* frame);
    bool drained() const { return drained_; }
    // Number of packets the decoder rejected as damaged.
    int corruptPackets() const { return corruptPackets_; }
    // Forgets buffered data, e.g. after a seek.
    void flush();
    // While set, packets sent are decoded only when other pictures refer to
    // them: pictures that are decoded only to reach a later one need not
    // all be made. Applies from the next packet sent.
    void skipUnreferenced(bool skip);
    // While set, pictures are decoded without their loop filter (H.264's
    // deblocking): faster, and where they are shrunk to half their size or
    // less the filter's work is averaged away. Pictures that refer to such
    // a picture are then built on the unfiltered one, so every picture of
    // a stretch must be decoded one way. Applies from the next packet sent.
    void skipLoopFilter(bool skip);

    AVCodecContext* context() const { return ctx_.get(); }

  private:
    av::CodecContextPtr ctx_;
    bool drained_ = false;
    int corruptPackets_ = 0;
};

} // namespace kavlo
