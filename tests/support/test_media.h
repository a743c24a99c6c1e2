// Generated test media and an independent decoder to check outputs.
//
// Test videos carry their own frame index in the picture: the top half holds
// 16 vertical stripes, stripe b (from the left) white when bit b of the index
// is set; the bottom half is white on the left and black on the right, so a
// picture that comes out turned or mirrored does not read as any index.
// The decoder here uses libavformat/libavcodec directly, not the media layer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVStream;

namespace kavlo::test {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

std::string shellQuoted(const std::string& text);

// Runs the ffmpeg command line with the given arguments; throws with its
// error output when it fails.
void runFfmpeg(const std::vector<std::string>& args);
// The same for a command whose inputs are all lavfi sources and whose last
// argument is the output file: the result is kept in the build tree's media
// cache, keyed by the command, and copied from there the next time, so the
// many test processes of one binary generate each file once.
void generateMedia(const std::vector<std::string>& args);

struct TestClip {
    int width = 160, height = 96;
    std::string rate = "30"; // frames per second, as ffmpeg reads it ("30000/1001")
    int frames = 60;
    int keyframeInterval = 0; // 0: x264's default
    // x264's preset; "ultrafast" makes no B-frames, "veryfast" does.
    std::string preset = "ultrafast";
    // Filters applied after the pattern is drawn ("transpose=clock"), and the
    // codec and pixel format of the file; odd sizes need a codec such as ffv1.
    std::string filter = {};
    std::string codec = "libx264", pixelFormat = "yuv420p";
    // Sound: an aevalsrc expression per channel, separated by '|', with no
    // commas; empty for none. Mono 440 Hz: "sin(2*PI*440*t)".
    std::string audio = {};
    int sampleRate = 48000;
    double audioSeconds = 0; // length of the sound; 0: as long as the picture
    std::string audioCodec = "aac";
    // The container, when the file name does not say ("vob" for an MPEG-2
    // program stream), and further options of the video encoder.
    std::string container = {};
    std::vector<std::string> videoOptions = {};

    double framesPerSecond() const;
};

// Writes an index-coded H.264 video (with sound when clip.audio is set).
fs::path makeIndexedVideo(const fs::path& path, const TestClip& clip);

// The clip written under `name` on first use, in a directory this process
// removes when it ends; later calls with that name return the same file.
const fs::path& sharedClip(const std::string& name, const TestClip& clip);

// Copies a file's streams into `out`, giving its video track a display
// matrix x' = a*x + c*y, y' = b*x + d*y (entries -1, 0 or 1).
void remuxWithDisplayMatrix(const fs::path& in, const fs::path& out, int a, int b, int c, int d);

// Copies `in` into `out` (the container chosen by its extension: ".mkv",
// ".ts") with the video track starting `seconds` later against the sound.
fs::path delayVideo(const fs::path& in, const fs::path& out, double seconds);

// An upright 96x160 index-coded clip stored turned and/or mirrored, with a
// display matrix that turns it upright again: only a correctly applied
// matrix gives readable frames.
struct TurnedClip {
    const char* name;
    const char* filter; // undoes the display matrix below
    int a, b, c, d;
};
inline constexpr TurnedClip kTurnedClips[] = {
    {"rotated-90", "transpose=cclock", 0, 1, -1, 0},
    {"rotated-270", "transpose=clock", 0, -1, 1, 0},
    {"rotated-180", "hflip,vflip", -1, 0, 0, -1},
    {"mirrored", "hflip", -1, 0, 0, 1},
    {"rotated-mirrored", "transpose=cclock_flip", 0, 1, 1, 0},
};
// Writes dir/<name>.mp4 with `frames` frames.
fs::path makeTurnedVideo(const fs::path& dir, const TurnedClip& turn, int frames);

// The index an upright index-coded luma plane carries, or -1 when the
// picture is not an upright index-coded frame.
int readFrameIndex(const uint8_t* luma, int stride, int width, int height);
// The same for a decoded frame's luma plane.
int readFrameIndex(const AVFrame& frame);

// Times of decoded frames and samples count from the start of the file (the
// earliest presentation time of any of its tracks), as the renderer and the
// players count source time.
struct ProbedFrame {
    double time = 0; // presentation time in seconds
    int index = -1;  // the frame's index code, -1 when unreadable
    int width = 0, height = 0;
    std::vector<uint8_t> luma; // width * height samples
};

struct DecodedVideo {
    std::vector<ProbedFrame> frames;
    // The track's duration as the container states it; where it states none
    // (WebM), as long as the track shows.
    double trackSeconds = 0;
    bool hasDisplayMatrix = false;
    std::string codec, pixelFormat;
    int level = 0; // the codec's level as its stream states it: 42 for H.264 level 4.2
    // The colour tags of the stream, by FFmpeg's names ("bt709", "smpte2084").
    std::string primaries, transfer, matrix;
};

// Decodes the file's best video (or audio) track with libavcodec and hands
// every frame to `onFrame` in presentation order, the decoder flushed at the
// end. Returns the file's start time in seconds. Throws std::runtime_error
// when there is no such track.
using FrameCallback = std::function<void(const AVStream&, const AVCodecContext&, const AVFrame&)>;
double decodeTrack(const fs::path& path, bool audio, const FrameCallback& onFrame);

DecodedVideo decodeVideo(const fs::path& path);
std::vector<int> frameIndices(const DecodedVideo& video);

struct DecodedAudio {
    int sampleRate = 0, channels = 0;
    std::string layout; // FFmpeg's name for the channel layout: "stereo", "3.0"
    std::string codec;
    double trackSeconds = 0;       // as DecodedVideo::trackSeconds
    double firstSampleSeconds = 0; // presentation time of the first sample (see above)
    std::vector<float> samples;    // interleaved, as presented (priming removed)

    int64_t frameCount() const { return channels ? int64_t(samples.size()) / channels : 0; }
    float at(int64_t frame, int channel) const { return samples[frame * channels + channel]; }
};

// Decodes the first audio track as a player would, honouring the container's
// edit list and the encoder's priming.
DecodedAudio decodeAudio(const fs::path& path);

// Amplitude of the tone at `hz` in one channel, measured over `windowSeconds`
// centred on `centreSeconds` of the file's time (Hann window; a tone whose
// amplitude changes linearly reads as its amplitude at the centre).
double toneAmplitude(const DecodedAudio& audio, int channel, double centreSeconds,
                     double windowSeconds, double hz);

// A file's bytes, and the names in a folder in order.
std::string readFile(const fs::path& path);
std::vector<std::string> fileNamesIn(const fs::path& dir);

// True when the file's index ('moov') comes before its media data ('mdat').
bool indexAtFront(const fs::path& path);

} // namespace kavlo::test
