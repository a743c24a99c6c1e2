// Laying decoded sound onto the device's stream: samples end up at the
// stream position of their time, whatever the chunks look like.
#include "playback/pcm_aligner.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace kavlo {
namespace {

// A chunk whose frame i carries the value first + i on both channels.
AudioChunk ramp(uint64_t serial, int64_t ptsUs, int frames, int16_t first) {
    AudioChunk c{serial, ptsUs, {}};
    for (int i = 0; i < frames; ++i)
        c.samples.insert(c.samples.end(), 2, static_cast<int16_t>(first + i));
    return c;
}

int64_t usOfFrames(int64_t frames) {
    return frames * 1'000'000 / kOutputRate;
}

class PcmAlignerTest : public ::testing::Test {
  protected:
    void push(AudioChunk c) {
        ASSERT_TRUE(queue_.push(std::move(c), {}, [] { return false; }));
    }
    // Left channel of `frames` frames out of the aligner.
    std::vector<int16_t> take(int64_t frames, int64_t silence = 0) {
        std::vector<int16_t> out(frames * 2, -1);
        const int64_t n = aligner_.fill(queue_, out.data(), frames, silence);
        std::vector<int16_t> left;
        for (int64_t i = 0; i < n; ++i)
            left.push_back(out[i * 2]);
        return left;
    }

    AudioQueue queue_{kOutputRate};
    PcmAligner aligner_;
};

TEST_F(PcmAlignerTest, ChunksInStepComeOutUnchangedGapsAsSilenceAndLateSamplesDropped) {
    aligner_.restart(1, 1'000'000);
    push(ramp(1, 1'000'000, 480, 0));
    push(ramp(1, 1'000'000 + usOfFrames(480), 480, 480));
    // Then 10 frames late, and then overlapping itself by 5 frames.
    push(ramp(1, 1'000'000 + usOfFrames(970), 20, 2000));
    push(ramp(1, 1'000'000 + usOfFrames(985), 20, 3000));
    const auto out = take(1005);
    ASSERT_EQ(out.size(), 1005u);
    for (int i = 0; i < 1005; ++i) {
        const int expected = i < 960 ? i : i < 970 ? 0 : i < 990 ? 2000 + i - 970 : 3000 + i - 985;
        ASSERT_EQ(out[i], expected) << i;
    }
    EXPECT_EQ(aligner_.framesWritten(), 1005);
}

TEST_F(PcmAlignerTest, SoundBeforeTheStartAndOfOlderGenerationsIsDiscarded) {
    aligner_.restart(2, usOfFrames(100));
    push(ramp(1, usOfFrames(100), 50, 1000)); // from before the seek
    push(ramp(2, usOfFrames(80), 40, 0));     // the seek lands mid-chunk
    const auto out = take(20);
    ASSERT_EQ(out.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(out[i], 20 + i);
    EXPECT_TRUE(aligner_.primed());
}

TEST_F(PcmAlignerTest, RunningDryWritesOnlyTheSilenceAllowed) {
    aligner_.restart(1, 0);
    EXPECT_FALSE(aligner_.prime(queue_));
    EXPECT_TRUE(take(100).empty());
    push(ramp(1, 0, 10, 1));
    EXPECT_TRUE(aligner_.prime(queue_));
    const auto out = take(100, 30);
    ASSERT_EQ(out.size(), 40u);
    EXPECT_EQ(out[9], 10);
    EXPECT_EQ(out[10], 0);
    // The silence took the place of what comes next: late sound is cut.
    push(ramp(1, usOfFrames(30), 20, 500));
    const auto next = take(10);
    ASSERT_EQ(next.size(), 10u);
    EXPECT_EQ(next[0], 510);
}

TEST_F(PcmAlignerTest, SkippingAheadDropsSoundAndKeepsTheTimesOfWhatWasWritten) {
    aligner_.restart(1, 0);
    push(ramp(1, 0, 4800, 0)); // 100 ms
    ASSERT_EQ(take(960).size(), 960u);
    // The device turned out to be 40 ms (1920 frames) behind the picture.
    aligner_.skip(usOfFrames(1920));
    const auto out = take(100);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out[0], 960 + 1920);
    EXPECT_EQ(aligner_.lastSkipFrame(), 960);
    EXPECT_EQ(aligner_.timeOfFrameUs(480), usOfFrames(480)) << "written before the skip";
    EXPECT_NEAR(aligner_.timeOfFrameUs(1000), usOfFrames(1000 + 1920), 1);
}

} // namespace
} // namespace kavlo
