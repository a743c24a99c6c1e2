// Reading the selected segment's sound as raw samples, for the audio loop.
#pragma once

#include "media/input_file.h"

#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

// The segment's sound in the form the output's AAC carries (see
// aacSoundFormatFor): the source's rate and channels where AAC takes them.
struct SegmentAudio {
    int sampleRate = 0;   // sample frames per second
    int channelCount = 0; // at least 1
    // Interleaved 32-bit float PCM: frame 0 channel 0, frame 0 channel 1, ...
    // Always a whole number of frames.
    std::vector<float> samples;
    // The channels' native-order layout; 0 for the usual one of channelCount.
    uint64_t channelMask = 0;

    int64_t frameCount() const { return channelCount ? int64_t(samples.size()) / channelCount : 0; }
};

// Decodes the file's first audio track over [trimStart, trimStart + max(trimEnd
// - trimStart, 0.001)) seconds of source time. Sample frame 0 of the result is
// the frame at trimStart itself (rounded to the nearest frame), not the start
// of the packet that holds it. Where decoding starts is known from the
// container's timestamps, so the cut is exact where they count samples (MP4,
// MOV) and within half a tick where they are coarser (Matroska and WebM count
// milliseconds: at most 22 frames at 44100 Hz). A stretch the track does not
// cover inside the range comes out silent so later frames keep their place.
// Rate and channels are the source's where AAC can carry them; otherwise
// the sound is resampled to 48000 Hz, or mixed down to stereo from more than
// eight channels. Decoded frames whose rate or layout differ from the
// track's header are converted to it.
//
// Returns nothing when the file has no audio track or the range holds no
// sample frame of it (it lies beyond the end of the sound). Throws Error with
// code 10 when the track's format cannot be described, 11 when no decoder
// reads it, 12 when decoded samples cannot be converted, 13 when every
// packet was damaged; FFmpeg's own errors pass through. Throws Cancelled
// when `stop` is requested.
//
// Moves the file's read position; callers seek before reading it again.
std::optional<SegmentAudio> readSegmentAudio(InputFile& file, double trimStart, double trimEnd,
                                             std::stop_token stop = {});

} // namespace kavlo
