// The selection's limits and frame arithmetic: plain values and functions
// that the editing session applies to its state. Times are seconds in the
// source video.
//
// Together the rules keep 0 <= start, end <= duration, end - start <= 3 s
// (or the whole video when shorter), and end - start >= one frame whenever
// the video is at least one frame long.
#pragma once

namespace kavlo {

inline constexpr double kDefaultLoopSeconds = 1.0;
inline constexpr double kMaxLoopSeconds = 3.0;

struct Selection {
    double duration = 1.0; // length of the video
    double fps = 30;       // frame rate used for frame arithmetic
    double start = 0;
    double end = 1.0;

    // Longest selection: 3 s, or the whole video when it is shorter.
    double maxLoopDuration() const;
    // Shortest selection: one frame.
    double minLoopDuration() const;

    // max(round(duration * fps), 1), halves rounded away from zero.
    int totalFrames() const;
    // round(fps * t), clamped to 0...totalFrames().
    int frameIndex(double t) const;
    // i clamped to 0...totalFrames(), divided by max(fps, 1), capped at duration.
    double timeForFrame(int i) const;

    // Moves the start to t within the limits; against the end it keeps at
    // least one frame (that bound wins when the two cross).
    void setStart(double t);
    // Moves the end to t within the limits; it keeps at least one frame after
    // the start (that bound wins when the two cross).
    void setEnd(double t);
    // Moves the whole selection to start at t, keeping its length.
    void moveTo(double t);
};

// The frame rate the session works with for a track's nominal rate: at least
// 1, or 30 when the rate is unknown or not positive.
double sessionFrameRate(double nominalFrameRate);

} // namespace kavlo
