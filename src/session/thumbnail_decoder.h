// Finds the picture for a thumbnail at time t as cheaply as the rule allows:
// a key frame whose time lies within the tolerance of t serves as it is
// (only that one packet is decoded); otherwise the frame on screen at
// t - tolerance (media/frame_timing.h), the first one within the tolerance,
// is decoded from the key frame before it, skipping frames that are over by
// then and that no other frame refers to. With no tolerance that is the
// frame on screen at t, the one the renderer reads. Asked for increasing
// times, it decodes on from where it stands instead of seeking whenever no
// newer key frame lies in between.
//
// Times are microseconds of source time, as FrameTiming counts them.
// Not thread-safe: one thread owns a decoder.
#pragma once

#include "media/decoder.h"
#include "media/frame_timing.h"
#include "media/input_file.h"

#include <filesystem>

namespace kavlo {

class ThumbnailDecoder {
  public:
    // Opens the file's video track. Throws Error when it cannot be read,
    // kNoVideoTrackFound when it has no video.
    explicit ThumbnailDecoder(const std::filesystem::path& file);

    const VideoTrackInfo& track() const { return track_; }

    // The decoded frame for `tUs`, or null when the track has no frame at
    // all. Throws Error when decoding fails.
    av::FramePtr frameFor(int64_t tUs, int64_t toleranceUs);

  private:
    int64_t startUs(const AVFrame* frame) const;
    // Seeks to the last key frame at or before tUs and reads its packet into
    // packet_ (none pending when the seek found no key frame).
    void seekTo(int64_t tUs);
    bool worthContinuing(int64_t tUs, int64_t toleranceUs) const;
    av::FramePtr decodeKeyFrame();
    av::FramePtr decodeForwardTo(int64_t tUs);
    // The next frame in presentation order; null at the end of the track.
    av::FramePtr decodeNext(int64_t tUs);

    InputFile file_;
    VideoTrackInfo track_;
    AVStream* stream_;
    FrameTiming timing_;
    Decoder decoder_;
    av::PacketPtr packet_;
    bool packetPending_ = false; // packet_ was read but not yet sent
    bool inputDone_ = false;
    // Decoding position, valid while decoding goes on from the last answer.
    bool positioned_ = false;
    av::FramePtr current_;  // the latest frame started by the last time asked
    av::FramePtr upcoming_; // the frame after it, when already decoded
    // The key frame answered last, so that times sharing it decode nothing.
    av::FramePtr lastKey_;
};

} // namespace kavlo
