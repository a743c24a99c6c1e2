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
// keyPictureFor is the quick stand-in: the key frame nearest to t, one
// packet decoded, to show while frameFor's answer is on its way.
//
// Not thread-safe: one thread owns a decoder.
#pragma once

#include "media/decoded_stream.h"
#include "media/picture.h"
#include "media/segment_reader.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace kavlo {

class ThumbnailDecoder {
  public:
    // Opens the file's video track. Throws Error when it cannot be read,
    // kNoVideoTrackFound when it has no video.
    explicit ThumbnailDecoder(const std::filesystem::path& file);

    const VideoTrackInfo& track() const { return stream_.videoTrack(); }

    // The decoded frame for `t`, or an empty one when the track has no frame at
    // all. Throws Error when decoding fails.
    Frame frameFor(SourceTime t, Microseconds tolerance);
    // That frame upright at width x height (PictureShaper), in SDR.
    std::optional<Picture> pictureFor(SourceTime t, Microseconds tolerance, int width, int height);

    struct KeyPicture {
        Picture picture;
        std::optional<SourceTime> start; // the key frame's, when it has a timestamp
    };
    // The key frame nearest to `t` by the container's index (without one,
    // the one a seek to t finds), shaped as pictureFor does; nothing when
    // no key frame is found. Throws Error when decoding fails.
    std::optional<KeyPicture> keyPictureFor(SourceTime t, int width, int height);

    // Called before each frame a search decodes, on the decoding thread: a
    // place to wait while other work goes first. Nothing: no such pause.
    void setBetweenFrames(std::function<void()> step) { betweenFrames_ = std::move(step); }

  private:
    bool worthContinuing(SourceTime t, Microseconds tolerance) const;
    Frame decodeKeyFrame();
    Frame decodeForwardTo(SourceTime t);
    SourceTime nearestKeyFrame(SourceTime t) const;
    Picture shape(const Frame& frame, int width, int height);

    DecodedStream stream_;
    // Decoding position, valid while decoding goes on from the last answer.
    bool positioned_ = false;
    std::optional<DecodedFrame> current_;  // the latest frame started by the last time asked
    std::optional<DecodedFrame> upcoming_; // the frame after it, when already decoded
    // The key frame answered last, so that times sharing it decode nothing.
    Frame lastKey_;
    std::optional<SourceTime> lastKeyStart_;
    std::optional<PictureShaper> shaper_;
    int shapedWidth_ = 0, shapedHeight_ = 0;
    std::function<void()> betweenFrames_;
};

} // namespace kavlo
