// Finding the frame on screen at a time in a video track, the way the
// renderer and both players find it, so that they find the same one: seek to
// the key frame at or before the time, then decode forward until a frame
// starts after it (media/frame_timing.h decides), holding that frame for the
// next read. On the way from a key frame, pictures surely over before the
// time that nothing refers to are not decoded.
//
// A seek can land too late: an inexact index puts the key frame after the
// time, a container without one (MPEG-TS) lands inside a GOP, or the time
// lies past the last key frame, from where nothing decodes. The first frame
// decoded then starts after the time, or none comes at all; locate() seeks
// back further, 1, 2, 4, ... s before the time, down to the start of the
// file, until it does not.
//
// The frame held ahead belongs to the stream's generation: a seek of the
// stream, by the locator or anyone else, drops it.
//
// Not thread-safe: the thread that owns the stream owns its locator.
#pragma once

#include "media/decoded_stream.h"

#include <functional>
#include <optional>

namespace kavlo {

class FrameLocator {
  public:
    // Called with every frame decoded on the way; it may throw to give up,
    // and the stream then stands after that frame.
    using Visit = std::function<void(const DecodedFrame&)>;

    // `stream` (a video stream) must outlive the locator.
    explicit FrameLocator(DecodedStream& stream) : stream_(stream) {}

    // The next frame in presentation order: the one held ahead, else the
    // stream's next; nothing at the end of the track.
    std::optional<DecodedFrame> next();
    // The frame held ahead, decoded but not yet handed out.
    const DecodedFrame* ahead() const;
    // True once the track has ended and nothing is held.
    bool atEnd() const { return !ahead() && stream_.atEnd(); }
    // Where the frame after the last one handed out starts, when known:
    // the held frame's start, else the end of the last one by its length.
    std::optional<SourceTime> nextStart() const;

    // Decodes on from here until the frame on screen at `t` is known:
    // `onScreen` (the frame on screen so far, nothing for none) becomes the
    // latest frame started by t, and the first one after it is held. With
    // `settleByLength`, a frame whose container length shows it still on
    // screen at t ends the walk without decoding the next. True when no
    // frame started by t came, the first one after it being the first
    // decoded, or none coming at all: after a seek, it landed too late.
    bool walkTo(SourceTime t, std::optional<DecodedFrame>& onScreen, const Visit& visit = nullptr,
                bool settleByLength = false);

    // Seeks and walks to the frame on screen at `t`, seeking back further
    // while the seek lands too late. The frame on screen at t, the first
    // frame when t lies before it; nothing only when the track has none.
    std::optional<DecodedFrame> locate(SourceTime t, const Visit& visit = nullptr,
                                       bool settleByLength = false);

  private:
    DecodedStream& stream_;
    std::optional<DecodedFrame> ahead_;
    // The start and length of the last frame handed out, and the
    // generation it was decoded in.
    SourceTime lastStart_;
    Microseconds lastLength_{0};
    uint64_t lastGeneration_ = 0;
    bool handedOut_ = false;
};

} // namespace kavlo
