// The one rule for which frame is on screen at a time: files whose video
// starts late, and container lengths that are off by their rounding.
#include "media/ffmpeg.h"
#include "media/frame_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace kavlo {
namespace {

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
