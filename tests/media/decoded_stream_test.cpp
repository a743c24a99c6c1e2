// The decoded stream every reader pulls from: seeks start a new generation
// that nothing decoded before them outlives, and sound frames follow each
// other in time. (Where skipping pictures on the way to a time must still
// find its frame: frame_locator_test.)
// And the one rule for which frame is on screen at a time: files whose video
// starts late, and container lengths that are off by their rounding.
#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/frame_timing.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <vector>

namespace kavlo {
namespace {

int indexOf(const DecodedFrame& f) {
    return test::readFrameIndex(f.frame->data[0], f.frame->linesize[0], f.frame->width,
                                f.frame->height);
}

TEST(DecodedStream, ASeekStartsAGenerationAtTheKeyFrameBeforeItsTime) {
    test::TempDir dir;
    const auto path = test::makeIndexedVideo(dir / "gop.mp4", {.rate = "30",
                                                               .frames = 48,
                                                               .keyframeInterval = 12,
                                                               .preset = "veryfast",
                                                               .audio = "sin(2*PI*440*t)"});
    DecodedStream stream(path.string(), MediaKind::video);
    std::optional<DecodedFrame> first = stream.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(indexOf(*first), 0);
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
    EXPECT_EQ(indexOf(*f), 24) << "lands on the key frame before t";

    EXPECT_EQ(stream.scanEnd().us(), 1'600'000);
    EXPECT_EQ(indexOf(*stream.next()), 0) << "scanning leaves the stream at the start";

    // Sound: each frame starts where the one before it ended.
    DecodedStream sound(path.string(), MediaKind::audio);
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
    test::TempDir dir;
    const auto path = test::makeIndexedVideo(dir / "silent.mp4", {.frames = 4});
    const std::string error =
        test::errorText([&] { DecodedStream(path.string(), MediaKind::audio); });
    EXPECT_TRUE(error.starts_with("Kavlo " + std::to_string(kNoAudioTrack) + " ")) << error;
}

constexpr Rational kMilliseconds{1, 1000};
constexpr Rational k90kHz{1, 90000};
constexpr Rational kNtsc60{60000, 1001};

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
