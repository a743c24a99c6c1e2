// Finding the frame on screen at a time, as the renderer and both players
// do: a seek, then decoding forward step by step, in files where seeks land
// exactly, inside a GOP (MPEG-TS has no index), on skippable B-frames, before
// the first frame and past the last, and at time 0 in every container.
#include "media/ffmpeg.h"
#include "media/frame_locator.h"
#include "media/segment_reader.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace kavlo {
namespace {

using test::TestClip;

const std::map<std::string, TestClip> kClips = {
    {"25fps.mp4", {.rate = "25", .frames = 50, .keyframeInterval = 12}},
    // A seek near any time up to 1 s lands in the GOP from 0, where nothing
    // decodes until the key frame at 1 s.
    {"gop.ts", {.frames = 60, .keyframeInterval = 30, .preset = "veryfast"}},
    // Frame 44 is an unreferenced B-frame, skipped on the way to later ones.
    {"bframes.mp4",
     {.width = 320, .height = 192, .frames = 90, .keyframeInterval = 60, .preset = "veryfast"}},
    {"short.mp4", {.frames = 10}},
    // AVI refuses a time before its first packet.
    {"start.avi",
     {.frames = 45, .keyframeInterval = 30, .codec = "mjpeg", .pixelFormat = "yuvj420p"}},
    {"start.mpg", {.frames = 45, .keyframeInterval = 30, .codec = "mpeg2video"}},
    {"start.mkv", {.frames = 45, .keyframeInterval = 30, .preset = "veryfast"}},
};

std::string made(const std::string& name) {
    static test::TempDir dir;
    static std::map<std::string, std::string> files;
    auto it = files.find(name);
    if (it == files.end())
        it =
            files.emplace(name, test::makeIndexedVideo(dir / name, kClips.at(name)).string()).first;
    return it->second;
}

int indexOf(const AVFrame* f) {
    return test::readFrameIndex(f->data[0], f->linesize[0], f->width, f->height);
}

TEST(FrameLocator, FindsTheFrameOnScreenAtEachStepAfterASeek) {
    struct Case {
        const char* file;
        double start; // seconds
        int steps;    // at 30 a second
    };
    const Case cases[] = {
        {"25fps.mp4", 0.7, 15},  {"25fps.mp4", 0.0, 3},         {"gop.ts", 0.0, 3},
        {"gop.ts", 0.1, 6},      {"gop.ts", 0.25, 6},           {"gop.ts", 0.55, 6},
        {"gop.ts", 1.3, 6},      {"bframes.mp4", 44 / 30.0, 9}, {"bframes.mp4", 1.47, 9},
        {"bframes.mp4", 1.5, 9}, {"short.mp4", -1.0, 2},        {"short.mp4", 5.0, 2},
        {"start.avi", 0.0, 3},   {"start.mpg", 0.0, 3},         {"start.mkv", 0.0, 3},
    };
    for (const Case& c : cases) {
        const TestClip& clip = kClips.at(c.file);
        // The players settle by length, the renderer does not; a read shrunk
        // to half size or less leaves out the loop filter.
        for (const auto& [settleByLength, skipLoopFilter] :
             {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            SCOPED_TRACE(::testing::Message()
                         << c.file << " from " << c.start << " settle " << settleByLength
                         << " unfiltered " << skipLoopFilter);
            DecodedStream stream(made(c.file), MediaKind::video);
            stream.skipLoopFilter(skipLoopFilter);
            FrameLocator locator(stream);
            std::optional<DecodedFrame> f;
            for (int k = 0; k < c.steps; ++k) {
                const double t = c.start + k / 30.0;
                if (k == 0)
                    f = locator.locate(SourceTime::fromUs(secondsToUs(t)), nullptr, settleByLength);
                else
                    locator.walkTo(SourceTime::fromUs(secondsToUs(t)), f, nullptr, settleByLength);
                ASSERT_TRUE(f);
                EXPECT_EQ(f->generation, stream.generation());
                const int expected = std::clamp(int(std::floor(t * clip.framesPerSecond() + 1e-6)),
                                                0, clip.frames - 1);
                EXPECT_EQ(indexOf(f->frame.get()), expected) << "at " << t;
            }
        }
    }
}

TEST(FrameLocator, AFrameHeldAheadDiesWithItsGenerationAndReadingStopsAtTheEnds) {
    DecodedStream stream(made("short.mp4"), MediaKind::video);
    FrameLocator locator(stream);
    ASSERT_EQ(indexOf(locator.locate(SourceTime::fromUs(150'000))->frame.get()), 4);
    ASSERT_TRUE(locator.ahead());
    EXPECT_EQ(indexOf(locator.ahead()->frame.get()), 5);
    stream.seek(SourceTime());
    EXPECT_FALSE(locator.ahead());
    EXPECT_EQ(indexOf(locator.next()->frame.get()), 0) << "a frame from before the seek came out";

    // The renderer's reader ends with the track or its range.
    InputFile input(made("short.mp4"));
    const auto indices = [&](double start, double range) {
        VideoSegmentReader reader(input, {start, range, 30, 160, 96});
        std::vector<int> out;
        while (auto picture = reader.next())
            out.push_back(indexOf(picture->frame()));
        return out;
    };
    EXPECT_EQ(indices(0.2, 5.0), (std::vector<int>{6, 7, 8, 9}));
    EXPECT_EQ(indices(0.0, 0.001), (std::vector<int>{0}));
    EXPECT_TRUE(indices(1.0, 1.0).empty());
}

} // namespace
} // namespace kavlo
