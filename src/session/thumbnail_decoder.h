// Finds the picture for a thumbnail at time t as cheaply as the rule allows:
// a key frame whose time lies within the tolerance of t serves as it is
// (only that one packet is decoded); otherwise the frame on screen at t is
// decoded from the key frame before it, skipping frames that end before t
// and that no other frame refers to. Asked for increasing times, it decodes
// on from where it stands instead of seeking whenever no newer key frame
// lies in between.
//
// Not thread-safe: one thread owns a decoder.
#pragma once

#include "media/decoder.h"
#include "media/input_file.h"

#include <filesystem>

namespace kavlo {

class ThumbnailDecoder {
  public:
    // Opens the file's video track. Throws Error when it cannot be read,
    // kNoVideoTrackFound when it has no video.
    explicit ThumbnailDecoder(const std::filesystem::path& file);

    const VideoTrackInfo& track() const { return track_; }

    // The decoded frame for `seconds` (source time), or null when the track
    // has no frame at all. Throws Error when decoding fails.
    av::FramePtr frameFor(double seconds, double toleranceSeconds);

  private:
    double timeOf(const AVFrame* frame) const;
    double packetTime(const AVPacket* packet) const;
    void seek(double seconds);
    bool worthContinuing(double t, double tolerance) const;
    av::FramePtr decodeKeyFrame();
    av::FramePtr decodeForwardTo(double t);
    // The next frame in presentation order; null at the end of the track.
    av::FramePtr decodeNext(double t);

    InputFile file_;
    VideoTrackInfo track_;
    AVStream* stream_;
    Decoder decoder_;
    av::PacketPtr packet_;
    bool packetPending_ = false; // packet_ was read but not yet sent
    bool inputDone_ = false;
    double slack_; // a frame starting this much after t still counts as at t
    // Decoding position, valid while decoding goes on from the last answer.
    bool positioned_ = false;
    av::FramePtr current_;  // the latest frame at or before the last time asked
    av::FramePtr upcoming_; // the frame after it, when already decoded
    // The key frame answered last, so that times sharing it decode nothing.
    av::FramePtr lastKey_;
};

} // namespace kavlo
