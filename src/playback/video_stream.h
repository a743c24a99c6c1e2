// The video track of one file as a sequence of decoded frames with their
// times, plus the one question both players ask: which frame is on screen at
// time t? The answer follows media/frame_timing.h, as the renderer's does;
// a time past the end shows the last frame.
//
// Not thread-safe: one thread owns a stream.
#pragma once

#include "media/decoded_stream.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kavlo {

// A decoded picture as the players keep it: times in source microseconds.
struct TimedFrame {
    Frame frame;
    int64_t ptsUs = 0;      // from the start of the file
    int64_t durationUs = 0; // from the container; 0 when it does not say
    // True when this frame directly follows the one handed out before it:
    // no seek and no skipped frame in between.
    bool contiguous = false;
};

class VideoStream {
  public:
    // Opens the file's first video track. Throws Error when the file cannot
    // be read or has no video. `decoderThreads` as for Decoder (0: libavcodec
    // picks).
    explicit VideoStream(const std::string& path, int decoderThreads = 0);

    const VideoTrackInfo& track() const { return stream_.videoTrack(); }
    InputFile& file() { return stream_.file(); }
    const FrameTiming& timing() const { return stream_.timing(); }

    // The next frame in presentation order, or nothing at the end.
    std::optional<TimedFrame> next();
    // True when frames were left undecoded since the last seek (see locate).
    bool skippedSinceSeek() const { return stream_.skippedSinceSeek(); }
    // Where the frame after the last one handed out starts, when known.
    std::optional<int64_t> nextStartUs() const;
    // True once the last frame has been handed out.
    bool atEnd() const { return !upcoming_ && stream_.atEnd(); }
    // Continues at the key frame at or before `tUs`.
    void seekTo(int64_t tUs);
    // Seeks as needed and decodes until the frame on screen at `tUs` is
    // known; next() then continues after it. Every frame decoded on the way,
    // the found one included, is passed to `visit` first, which may throw to
    // give up (the stream then stands after the frame visited last); after a
    // seek, frames before t that no other frame refers to are not decoded at
    // all.
    // `continueIfNear` decodes on from the current position instead of
    // seeking when canContinueTo(tUs). Nothing only when the track has no
    // frames.
    std::optional<TimedFrame> locate(int64_t tUs, bool continueIfNear = false,
                                     const std::function<void(const TimedFrame&)>& visit = nullptr);

    // True when decoding on from the current position reaches `tUs` sooner
    // than seeking back to a key frame: `tUs` lies a little ahead, with no
    // key frame in between (and no frame left undecoded on the way).
    bool canContinueTo(int64_t tUs) const;
    // The key frame at or before `tUs` by the container's index; nothing
    // when the index does not say.
    std::optional<int64_t> keyFrameUs(int64_t tUs) const;

    // Time just after the last frame ends: the length of one repetition when
    // the track loops. Reads all packets (no decoding) and rewinds.
    int64_t scanEndUs();

  private:
    std::optional<TimedFrame> locateFromHere(int64_t tUs,
                                             const std::function<void(const TimedFrame&)>& visit,
                                             bool& landedLate);

    DecodedStream stream_;
    // A frame decoded ahead by locate(), handed out by the next next().
    std::optional<TimedFrame> upcoming_;
    // Time of the last frame handed out; nothing right after a seek.
    std::optional<int64_t> positionUs_;
    int64_t lastDurationUs_ = 0;
};

} // namespace kavlo
