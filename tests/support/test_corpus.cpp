#include "support/test_corpus.h"

#include <cmath>

namespace kavlo::test {

namespace {

// The ramp on the left, the chord on the right.
const std::string kStereo = std::string(kRampTone) + "|" + kChord;
// 5.1 in the usual order (FL FR FC LFE SL SR): the chord on the left, the
// ramp in the centre.
const std::string kSurround = std::string(kChord) + "|0.2*sin(2*PI*700*t)|" + kRampTone +
                              "|0.2*sin(2*PI*60*t)|0.2*sin(2*PI*1300*t)|0.2*sin(2*PI*1700*t)"
                              ":c=5.1";

const std::vector<std::string> kVp9 = {"-deadline", "realtime", "-cpu-used", "8",
                                       "-crf",      "20",       "-b:v",      "0"};
const std::vector<std::string> kVp8 = {"-deadline", "realtime", "-cpu-used", "8",
                                       "-crf",      "10",       "-b:v",      "2M"};
const std::vector<std::string> kHevc = {"-preset", "ultrafast", "-crf",         "10",
                                        "-tag:v",  "hvc1",      "-x265-params", "log-level=error"};

// Two seconds with a key frame every second and the stereo sound above.
CorpusClip stereo(const char* name, TestClip clip) {
    clip.frames = int(std::lround(2 * clip.framesPerSecond()));
    clip.keyframeInterval = clip.frames / 2;
    clip.audio = kStereo;
    return {name, clip, 0, 1};
}

} // namespace

const std::vector<CorpusClip>& corpusClips() {
    static const std::vector<CorpusClip> clips = {
        stereo("ts-bframes.ts", {.rate = "30000/1001", .preset = "veryfast"}),
        stereo("h264-aac.mkv", {.rate = "24"}),
        stereo("vp9-opus.webm",
               {.codec = "libvpx-vp9", .audioCodec = "libopus", .videoOptions = kVp9}),
        stereo("hevc-10bit.mov",
               {.codec = "libx265", .pixelFormat = "yuv420p10le", .videoOptions = kHevc}),
        stereo("h264-pcm.mov", {.rate = "25", .audioCodec = "pcm_s16le"}),
        stereo("yuv444.mp4", {.rate = "60", .pixelFormat = "yuv444p"}),
        stereo("odd-size.webm", {.width = 161,
                                 .height = 97,
                                 .codec = "libvpx",
                                 .audioCodec = "libvorbis",
                                 .videoOptions = kVp8}),
        stereo("mpeg2.mpg", {.rate = "25",
                             .codec = "mpeg2video",
                             .audioCodec = "mp2",
                             .container = "vob",
                             .videoOptions = {"-q:v", "2", "-bf", "2"}}),
        {"mjpeg.avi",
         {.rate = "15",
          .frames = 30,
          .codec = "mjpeg",
          .pixelFormat = "yuvj420p",
          .videoOptions = {"-q:v", "2"}}},
        {"mono-44k.mp4",
         {.frames = 60, .keyframeInterval = 30, .audio = kRampTone, .sampleRate = 44100},
         0},
        {"surround.m2ts",
         {.rate = "30000/1001",
          .frames = 60,
          .keyframeInterval = 30,
          .preset = "veryfast",
          .audio = kSurround,
          .audioCodec = "ac3"},
         2,
         0},
    };
    return clips;
}

fs::path makeCorpusClip(const fs::path& dir, const CorpusClip& clip) {
    return makeIndexedVideo(dir / clip.name, clip.clip);
}

} // namespace kavlo::test
