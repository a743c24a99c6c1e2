// Which frame of a video track is on screen at a given time. The renderer,
// both players and the thumbnails all ask this question; they ask it here,
// so that the frame the user scrubbed to is the frame that gets exported.
//
// Source time is counted in microseconds (AV_TIME_BASE) from the start of
// the file: the earliest first timestamp of any of its streams. A video that
// starts after its sound (Matroska or MPEG-TS with AAC, an edit list) has its
// first frame at a positive time, in every reader alike.
//
// The rule: a frame is on screen from its start until the next frame starts;
// a time before the first frame shows the first. A frame counts as started
// by t when it starts no later than t plus a slack that absorbs the rounding
// of container timestamps (Matroska keeps milliseconds, so the frame at
// 66.67 ms is stored at 67 ms) but never reaches a quarter of a frame. Stream
// timestamps are rescaled to microseconds exactly once, with av_rescale_q;
// the decision itself compares integers.
#pragma once

#include "media/rational.h"

#include <cstdint>
#include <optional>
#include <span>

struct AVFrame;
struct AVPacket;

namespace kavlo {

class InputFile;

class FrameTiming {
  public:
    // For a stream with time base `timeBase` in a file starting at
    // `fileStartUs` (AVFormatContext::start_time; 0 when unknown), whose
    // nominal frame rate is `frameRate` ({0, 1} when unknown).
    FrameTiming(Rational timeBase, int64_t fileStartUs, Rational frameRate);
    // For the video track of `file`, which must have one.
    explicit FrameTiming(const InputFile& file);

    // Source time of stream timestamp `ts`.
    int64_t toUs(int64_t ts) const;
    // A length in the stream's time base (a packet or frame duration) in
    // microseconds; 0 for an unknown (non-positive) length.
    int64_t lengthUs(int64_t duration) const;
    // The stream timestamp at source time `tUs`, rounded down.
    int64_t toStreamTime(int64_t tUs) const;
    // One frame at the nominal rate (30 frames per second when unknown).
    int64_t nominalFrameUs() const { return nominalFrameUs_; }
    int64_t slackUs() const { return slackUs_; }

    // True when a frame starting at `startUs` has started by `tUs`.
    bool startedBy(int64_t startUs, int64_t tUs) const { return startUs <= latestStartUs(tUs); }
    // The latest start of a frame that has started by `tUs`, for looking
    // frames up in a map ordered by start.
    int64_t latestStartUs(int64_t tUs) const { return tUs + slackUs_; }
    // Container lengths (packet and frame durations) save decoding one
    // frame more, but they are rounded apart from the timestamps: the next
    // frame may start up to a tick of this stream, or a millisecond, before
    // or after start + length. (A millisecond is Matroska's precision, which
    // stays in the timestamps when a file is remuxed into a finer container.)
    // So a length only settles times clear of that margin.
    //
    // True when the frame starting at `startUs`, whose length the container
    // gives as `lengthUs` (0: unknown), is surely still on screen at `tUs`:
    // the next frame has surely not started.
    bool surelyOnScreen(int64_t startUs, int64_t lengthUs, int64_t tUs) const {
        return lengthUs > 0 && !startedBy(startUs + lengthUs - lengthRoundingUs_, tUs);
    }
    // True when that frame is surely off screen at `tUs`: the next frame has
    // surely started.
    bool surelyOverBy(int64_t startUs, int64_t lengthUs, int64_t tUs) const {
        return lengthUs > 0 && startedBy(startUs + lengthUs + lengthRoundingUs_, tUs);
    }

    // The same for the picture of a packet not yet decoded, from its pts
    // and duration; a packet without either proves nothing. Pictures that
    // are surely over before a seek's target and that no other picture
    // refers to need not be decoded on the way there.
    bool surelyOverBy(const AVPacket* packet, int64_t tUs) const;

    // For callers holding decoded frames: given their timestamps in the
    // stream's time base, in presentation order, the position of the one on
    // screen at `tUs`; nothing when there are none. The answer is final only
    // when the frames reach past `tUs` (the last one has not started by it)
    // or end with the track's last frame.
    std::optional<std::size_t> onScreen(std::span<const int64_t> timestamps, int64_t tUs) const;

  private:
    Rational timeBase_;
    int64_t fileStartUs_;
    int64_t lengthRoundingUs_; // how far a container length may be off
    int64_t slackUs_;
    int64_t nominalFrameUs_;
};

// The stream timestamp a decoded frame is presented at: libavcodec's best
// estimate, else its pts; AV_NOPTS_VALUE when it has neither.
int64_t frameTimestamp(const AVFrame* frame);

// Seconds as whole microseconds (nearest), for times that arrive in seconds.
int64_t secondsToUs(double seconds);

} // namespace kavlo
