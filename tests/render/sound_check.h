// Checks that a rendered MP4's sound follows its picture, for sources whose
// channel carries a 1 kHz tone whose loudness rises with source time.
#pragma once

#include "support/test_media.h"

#include <filesystem>
#include <vector>

namespace kavlo::test {

// What a render was asked to show: position i of `sequence` shows the
// source at trimStart + sequence[i] / frameRate and is due at output time
// i / (frameRate * speed).
struct RenderedTimeline {
    double trimStart = 0, frameRate = 30, speed = 1;
    std::vector<int> sequence;
};

// Loudness is read over 40 ms of output: AAC moves a tone's level a little
// from one 1024-sample frame to the next, and a longer look averages that.
inline constexpr double kLoudnessWindow = 0.04;

// At a dozen output times the 1 kHz tone heard in `channel` of `output` must
// be as loud as the source's somewhere between the two source times the
// picture passes there, within `tolerance`; where both lie more than 50 ms
// after `soundEnd` (source seconds), it must be silent. The output's sound
// must start at its time zero and last as long as its picture, to a sample
// or to `lengthTolerance` seconds where the container's clock is coarser.
void expectSoundFollowsPicture(const std::filesystem::path& source,
                               const std::filesystem::path& output, int channel,
                               const RenderedTimeline& timeline, double tolerance,
                               double soundEnd = 1e9, double lengthTolerance = 0);

// How 2048 sample frames of the output's `channel` from `outputSeconds` on
// match the source played as the timeline plays it (forward or backward,
// at its speed): the lag (in output frames, within +-maxLag) where they
// match best, and how well (correlation, 1 for a perfect match). Needs a
// channel whose waveform does not repeat within the search, such as a chord
// of unrelated tones, and a stretch that does not cross a turn.
struct SoundAlignment {
    int lag = 0;
    double correlation = 0;
};
SoundAlignment soundAlignmentAt(const DecodedAudio& original, const DecodedAudio& output,
                                int channel, const RenderedTimeline& timeline, double outputSeconds,
                                int maxLag);

} // namespace kavlo::test
