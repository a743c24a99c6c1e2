// The decoded stream every reader pulls from: seeks start a generation nothing
// decoded before outlives. Finding the frame on screen at a time as the renderer
// and both players do, in files where seeks land exactly, inside a GOP (MPEG-TS
// has no index), on skippable B-frames and past both ends. And the rule for
// which frame is on screen: late-starting video, lengths off by their rounding.
#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/frame_locator.h"
#include "media/frame_timing.h"
#include "media/segment_reader.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace kavlo {
namespace {

using test::TestClip;

const std::map<std::string, TestClip> kClips = {
    {"25fps.mp4", {.rate = "25", .frames = 50, .keyframeInterval = 12}},
    {"gop12-sound.mp4",
     {.frames = 48, .keyframeInterval = 12, .preset = "veryfast", .audio = "sin(2*PI*440*t)"}},
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
};

std::string made(const std::string& name) {
    return test::sharedClip(name, kClips.at(name));
}

int indexOf(const AVFrame* f) {
    return test::readFrameIndex(f->data[0], f->linesize[0], f->width, f->height);
}

TEST(DecodedStream, ASeekStartsAGenerationAtTheKeyFrameBeforeItsTime) {
    const std::string path = made("gop12-sound.mp4");
    DecodedStream stream(path, MediaKind::video);
    std::optional<DecodedFrame> first = stream.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(indexOf(first->frame.get()), 0);
    EXPECT_TRUE(stream.next()->contiguous);

    // Frames the decoder held back before the seek never come out after it.
    const SourceTime t = SourceTime::fromUs(1'000'000); // frame 30, in the GOP from 24
    const uint64_t generation = stream.seek(t);
    EXPECT_GT(generation, first->generation);
    stream.skipUnreferencedBefore(t);
    std::optional<DecodedFrame> f = stream.next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->generation, generation);
    EXPECT_FALSE(f->contiguous);
    EXPECT_EQ(indexOf(f->frame.get()), 24) << "lands on the key frame before t";

    EXPECT_EQ(stream.scanEnd().us(), 1'600'000);
    EXPECT_EQ(indexOf(stream.next()->frame.get()), 0) << "scanning leaves the stream at the start";

    // Sound: each frame starts where the one before it ended.
    DecodedStream sound(path, MediaKind::audio);
    std::optional<DecodedFrame> previous = sound.next();
    ASSERT_TRUE(previous && previous->length.count() > 0);
    for (int i = 0; i < 20; ++i) {
        std::optional<DecodedFrame> next = sound.next();
        ASSERT_TRUE(next);
        EXPECT_NEAR(double(next->start.us()), double((previous->start + previous->length).us()),
                    25.0);
        previous = std::move(next);
    }
}

TEST(DecodedStream, ATrackThatIsNotThereIsNamed) {
    const std::string error =
        test::errorText([&] { DecodedStream(made("short.mp4"), MediaKind::audio); });
    EXPECT_TRUE(error.starts_with("Kavlo " + std::to_string(kNoAudioTrack) + " ")) << error;
}

TEST(FrameLocator, FindsTheFrameOnScreenAtEachStepAfterASeek) {
    // A file, a start in seconds and steps at 30 a second from it.
    const std::tuple<const char*, double, int> cases[] = {
        {"25fps.mp4", 0.7, 15},        {"gop.ts", 0.0, 3},       {"gop.ts", 0.1, 6},
        {"gop.ts", 0.25, 6},           {"gop.ts", 0.55, 6},      {"gop.ts", 1.3, 6},
        {"bframes.mp4", 44 / 30.0, 9}, {"bframes.mp4", 1.47, 9}, {"bframes.mp4", 1.5, 9},
        {"short.mp4", -1.0, 2},        {"short.mp4", 5.0, 2},    {"start.avi", 0.0, 3},
        {"start.mpg", 0.0, 3},
    };
    for (const auto& [file, start, steps] : cases) {
        const TestClip& clip = kClips.at(file);
        // The players settle by length, the renderer does not; a read shrunk
        // to half size or less leaves out the loop filter.
        for (const auto& [settleByLength, skipLoopFilter] :
             {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            SCOPED_TRACE(::testing::Message()
                         << file << " from " << start << " settle " << settleByLength
                         << " unfiltered " << skipLoopFilter);
            DecodedStream stream(made(file), MediaKind::video);
            stream.skipLoopFilter(skipLoopFilter);
            FrameLocator locator(stream);
            std::optional<DecodedFrame> f;
            for (int k = 0; k < steps; ++k) {
                const double t = start + k / 30.0;
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

constexpr Rational kMilliseconds{1, 1000}, k90kHz{1, 90000}, kNtsc60{60000, 1001};

TEST(FrameTiming, TimesCountFromTheFileStartSoAVideoAfterItsSoundStartsLate) {
    // MPEG-TS: the sound starts at 1.445667 s, the video 21 ms later.
    const FrameTiming timing(k90kHz, 1'445'667, kNtsc60);
    const std::vector<int64_t> pts = {132000, 133502, 135003, 136505};
    EXPECT_EQ(timing.toUs(pts[0]), 21'000);
    EXPECT_EQ(timing.toStreamTime(21'000), pts[0]);
    EXPECT_EQ(timing.onScreen(pts, 0), 0u) << "before the first frame";
    const int64_t second = timing.toUs(pts[1]);
    EXPECT_EQ(timing.onScreen(pts, second), 1u);
    EXPECT_EQ(timing.onScreen(pts, second - timing.slackUs() - 1), 0u);
    EXPECT_EQ(timing.onScreen(pts, 10'000'000), 3u);
    EXPECT_EQ(timing.onScreen({}, 0), std::nullopt);
}

// Over every time around the next frame's start: a length may settle only
// what the next frame's own start would.
void expectLengthNeverOverrules(const FrameTiming& timing, int64_t startUs, int64_t lengthUs,
                                int64_t nextUs) {
    for (int64_t t = startUs; t < nextUs + 5'000; t += 50) {
        const bool nextStarted = timing.startedBy(nextUs, t);
        if (timing.surelyOnScreen(startUs, lengthUs, t)) {
            EXPECT_FALSE(nextStarted) << t;
        }
        if (timing.surelyOverBy(startUs, lengthUs, t)) {
            EXPECT_TRUE(nextStarted) << t;
        }
    }
}

TEST(FrameTiming, AContainerLengthOffByItsRoundingNeverOverrulesTheNextFramesStart) {
    // Millisecond times at 59.94 fps: frames at 17 and 33 ms, and a length
    // rounded to 17 ms that reaches past the next frame's start, or to 16
    // that stops short of it.
    const FrameTiming ms(kMilliseconds, 0, kNtsc60);
    expectLengthNeverOverrules(ms, 17'000, 17'000, 33'000);
    expectLengthNeverOverrules(ms, 17'000, 16'000, 34'000);
    // The same frames remuxed into MPEG-TS keep their millisecond times
    // but get exact 90 kHz lengths.
    const FrameTiming ts(k90kHz, 0, kNtsc60);
    expectLengthNeverOverrules(ts, 17'000, 16'683, 33'000);
    expectLengthNeverOverrules(ts, 16'000, 16'683, 33'000);

    EXPECT_TRUE(ms.surelyOnScreen(17'000, 17'000, 25'000)) << "a length is worth trusting";
    EXPECT_TRUE(ms.surelyOverBy(17'000, 17'000, 40'000));
    EXPECT_FALSE(ms.surelyOnScreen(17'000, 0, 17'000)) << "an unknown length says nothing";
}

} // namespace
} // namespace kavlo
