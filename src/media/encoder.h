// Encoders for Kavlo's outputs: H.264 through libx264 and AAC through
// FFmpeg's own encoder.
#pragma once

#include "media/av_ptr.h"

#include <string>

namespace kavlo {

// What x264 spends on compression. These change the file's size and the time
// it takes to write, never which frames are written or when.
struct H264Settings {
    std::string preset;
    double crf = 18;

    // Exports are kept: CRF 18 is where x264's artefacts stop being visible
    // on typical footage, and "fast" keeps the file within a few percent of
    // "medium"'s size at about twice its speed on a laptop.
    static H264Settings forExport() { return {"fast", 18}; }
    // Previews are thrown away after one viewing session and the user waits
    // for each, so speed wins: "ultrafast" encodes 1080p about three times
    // as fast as "veryfast" and its streams are cheaper to decode while the
    // loop plays. Without its deblocking and finer analysis, CRF 18 keeps
    // the picture as clean as the export's; the file is two to three times
    // larger, which a temporary file of a few seconds can afford.
    static H264Settings forPreview() { return {"ultrafast", 18}; }
};

class Encoder {
  public:
    // Sends a frame, or nullptr to drain.
    void send(const AVFrame* frame);
    // Receives the next packet; false when more input is needed or drained.
    bool receive(AVPacket* packet);
    AVCodecContext* context() const { return ctx_.get(); }

  protected:
    Encoder() = default;
    av::CodecContextPtr ctx_;
};

class H264Encoder : public Encoder {
  public:
    // Timestamps of sent frames are counted in frames: time base 1 / frameRate.
    // Colour tags are copied from `colourTemplate` when given.
    H264Encoder(int width, int height, AVRational frameRate, const H264Settings& settings,
                bool globalHeader, const AVFrame* colourTemplate = nullptr);
};

class AacEncoder : public Encoder {
  public:
    // Planar float input (AV_SAMPLE_FMT_FLTP), time base 1 / sampleRate.
    // channelMask: the channels' native-order layout; 0 for the usual one of
    // channelCount.
    AacEncoder(int sampleRate, int channelCount, int64_t bitRate, bool globalHeader,
               uint64_t channelMask = 0);
    int frameSize() const { return ctx_->frame_size; }
};

} // namespace kavlo
