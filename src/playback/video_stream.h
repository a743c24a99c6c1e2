// The video track of one file as a sequence of decoded frames with their
// times, plus the one question both players ask: which frame is on screen at
// time t? The answer is media/frame_locator.h's, as the renderer's is; a
// time past the end shows the last frame.
//
// Not thread-safe: one thread owns a stream.
#pragma once

#include "media/decoded_stream.h"
#include "media/frame_locator.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kavlo {

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
    std::optional<DecodedFrame> next() { return locator_.next(); }
    // True when frames were left undecoded since the last seek (see locate).
    bool skippedSinceSeek() const { return stream_.skippedSinceSeek(); }
    // Where the frame after the last one handed out starts, when known.
    std::optional<int64_t> nextStartUs() const;
    // True once the last frame has been handed out.
    bool atEnd() const { return locator_.atEnd(); }
    // Continues at the key frame at or before `tUs`.
    void seekTo(int64_t tUs) { stream_.seek(SourceTime::fromUs(tUs)); }
    // Seeks as needed and decodes until the frame on screen at `tUs` is
    // known; next() then continues after it. Every frame decoded on the way,
    // the found one included, is passed to `visit` first (FrameLocator::Visit).
    // `continueIfNear` decodes on from the current position instead of
    // seeking when canContinueTo(tUs). Nothing only when the track has no
    // frames.
    std::optional<DecodedFrame> locate(int64_t tUs, bool continueIfNear = false,
                                       const FrameLocator::Visit& visit = nullptr);

    // True when decoding on from the current position reaches `tUs` sooner
    // than seeking back to a key frame: `tUs` lies a little ahead, with no
    // key frame in between (and no frame left undecoded on the way).
    bool canContinueTo(int64_t tUs) const;
    // The key frame at or before `tUs` by the container's index; nothing
    // when the index does not say.
    std::optional<int64_t> keyFrameUs(int64_t tUs) const;

    // Time just after the last frame ends: the length of one repetition when
    // the track loops. Reads all packets (no decoding) and rewinds.
    int64_t scanEndUs() { return stream_.scanEnd().us(); }

  private:
    DecodedStream stream_;
    FrameLocator locator_{stream_};
};

} // namespace kavlo
