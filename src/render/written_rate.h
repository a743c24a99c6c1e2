// How fast the MP4 is written. The output rate is the source's rate times
// the speed, which at a 60 fps source and speed 5 is 300 frames a second:
// beyond what H.264 levels phones and browsers decode allow (1080p at 300
// fps is level 6.0) and several times the work of what anyone sees. Above
// the cap, pictures are left out evenly instead, as the GIF does for its
// shortest delay, so every cycle keeps its length and the sound, timed by
// the whole sequence, still follows the picture.
#pragma once

#include <cstddef>
#include <vector>

namespace kavlo {

// At most this many pictures a second are written.
inline constexpr double kMaxWrittenFrameRate = 60;

// The cap for pictures of width x height: kMaxWrittenFrameRate, or less
// where level 5.1 (the highest phones decode) cannot carry pictures of that
// size so fast: 30.3 at 2160p. Pictures larger than level 5.1 allows at all
// keep kMaxWrittenFrameRate.
double maxWrittenFrameRate(int width, int height);

struct WrittenFrames {
    std::vector<int> sequence; // the frame each written picture shows
    double rate = 0;           // written pictures a second
    // The rate the whole sequence plays at: the output rate, unless not
    // even two pictures a cycle fit under the cap, when the cycle runs
    // slower (the sound is timed with this rate).
    double sequenceRate = 0;
};

// Writes `sequence` (cycles of `cycleLength` positions, meant to be shown
// at `outputRate`) as it is when outputRate is at most `maxRate`. Above it,
// each cycle keeps K = floor(cycleLength * maxRate / outputRate) pictures
// (at least two, or the whole cycle when it is shorter), spaced equally over
// the cycle's length, each showing the position due at its time: picture k
// shows position floor(k * cycleLength / K) of the cycle.
WrittenFrames capWrittenRate(const std::vector<int>& sequence, std::size_t cycleLength,
                             double outputRate, double maxRate);

} // namespace kavlo
