// The index-coded test clip in the forms users bring: recorder MPEG-TS with
// B-frames, Matroska and WebM downloads, phone HEVC in 10 bits, camera MOV
// with PCM sound, 4:4:4 screen recordings, odd picture sizes, MPEG-2
// program streams, MJPEG AVI, 44.1 kHz mono and 5.1 sound.
//
// Every clip lasts two seconds, with a key frame every second (MJPEG has
// nothing but key frames), so a segment can start inside the first GOP or
// after it. Where a clip has sound, channel `rampChannel` carries a 1 kHz
// tone whose amplitude rises with the sound's own time t, 0.1 + 0.3 t, so
// its loudness tells where in the source it comes from, and channel
// `chordChannel`, when there is one, a chord of unrelated tones whose
// waveform pins alignment to the sample; every other channel carries a
// steady tone of its own.
#pragma once

#include "support/test_media.h"

#include <string>
#include <vector>

namespace kavlo::test {

struct CorpusClip {
    std::string name; // the file name; its extension names the container
    TestClip clip;
    int rampChannel = -1; // -1: no sound
    int chordChannel = -1;
};

inline constexpr const char* kRampTone = "(0.1+0.3*t)*sin(2*PI*1000*t)";
inline constexpr const char* kChord = "0.1*(sin(2*PI*311*t)+sin(2*PI*487*t)+sin(2*PI*743*t)+"
                                      "sin(2*PI*1093*t)+sin(2*PI*1597*t))";

const std::vector<CorpusClip>& corpusClips();

// Writes the clip as dir / clip.name and returns that path.
fs::path makeCorpusClip(const fs::path& dir, const CorpusClip& clip);

} // namespace kavlo::test
