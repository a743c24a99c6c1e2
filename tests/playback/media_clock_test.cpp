// The preview's timing without threads or devices: the clock against a fake time
// source, sound laid onto the device's stream, and the decoding loops' timeline.
#include "playback/loop_cursor.h"
#include "playback/media_clock.h"
#include "playback/pcm_aligner.h"
#include "playback/present_decision.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

class MediaClockTest : public ::testing::Test {
  protected:
    // Where the clock stands once `us` more have passed.
    int64_t positionAfter(int64_t us) {
        nowUs_ += us;
        return clock_.positionUs();
    }

    int64_t nowUs_ = 1'000'000;
    MediaClock clock_{[this] { return nowUs_; }};
};

TEST_F(MediaClockTest, RunsOnlyWhileNotPausedAndResumesWhereItStoppedOrWasReset) {
    clock_.reset(1, 500'000);
    EXPECT_EQ(positionAfter(40'000), 500'000) << "a new clock starts paused";
    clock_.setPaused(false);
    EXPECT_EQ(positionAfter(40'000), 540'000);
    clock_.setPaused(true);
    EXPECT_EQ(positionAfter(1'000'000), 540'000);
    clock_.setPaused(false);
    EXPECT_EQ(positionAfter(10'000), 550'000);
    clock_.reset(2, 3'000'000); // a running clock runs on from there
    EXPECT_EQ(clock_.serial(), 2u);
    EXPECT_EQ(positionAfter(5'000), 3'005'000);
}

TEST_F(MediaClockTest, FollowsTheAudioDeviceOfItsOwnGenerationOnly) {
    clock_.reset(3, 0);
    clock_.setPaused(false);
    nowUs_ += 100'000;
    clock_.syncToAudio(3, 80'000); // the device lags the monotonic clock
    EXPECT_EQ(clock_.positionUs(), 80'000);
    EXPECT_EQ(positionAfter(10'000), 90'000) << "it runs on between reports";
    clock_.syncToAudio(2, 5'000'000); // a report from before the last seek
    EXPECT_EQ(clock_.positionUs(), 90'000);
    clock_.setPaused(true);
    clock_.syncToAudio(3, 95'000); // the device drains a little after pausing
    EXPECT_EQ(clock_.positionUs(), 90'000) << "a paused clock stays put";
}

TEST_F(MediaClockTest, SmoothsTheDevicesJitterButFollowsItsRealJumps) {
    clock_.reset(1, 0);
    clock_.setPaused(false);
    nowUs_ += 100'000;
    clock_.syncToAudio(1, 100'000);
    EXPECT_EQ(clock_.positionUs(), 100'000) << "the first report sets the clock";
    // From here the device is heard 4 ms later than the clock says: each
    // report moves the clock part of the way, and together all of it.
    int64_t deviceUs = 100'000 - 4'000;
    for (int i = 0; i < 40; ++i) {
        nowUs_ += 5'000;
        deviceUs += 5'000;
        const int64_t before = clock_.positionUs();
        clock_.syncToAudio(1, deviceUs);
        EXPECT_LT(clock_.positionUs(), before) << "report " << i;
        EXPECT_GT(clock_.positionUs(), deviceUs) << "report " << i;
    }
    EXPECT_LT(clock_.positionUs() - deviceUs, 100) << "a steady offset is not closed";
    // A device that stalled or skipped is followed at once.
    nowUs_ += 5'000;
    clock_.syncToAudio(1, 250'000);
    EXPECT_EQ(clock_.positionUs(), 250'000);
}

TEST_F(MediaClockTest, HoldsForTheDeviceUntilItIsHeardToMoveButNoLongerThanTheWait) {
    clock_.reset(1, 200'000);
    clock_.setPaused(false);
    clock_.holdForAudio(300'000);
    EXPECT_EQ(positionAfter(50'000), 200'000);
    clock_.syncToAudio(1, 200'000); // where the device stands: not yet moving
    nowUs_ += 50'000;
    clock_.syncToAudio(1, 200'000);
    EXPECT_EQ(clock_.positionUs(), 200'000);
    nowUs_ += 20'000;
    clock_.syncToAudio(1, 212'000); // now it plays
    EXPECT_EQ(clock_.positionUs(), 212'000);
    EXPECT_EQ(positionAfter(8'000), 220'000);

    // A silent device does not stall the picture for long.
    clock_.reset(2, 0);
    clock_.holdForAudio(300'000);
    EXPECT_EQ(positionAfter(299'000), 0);
    EXPECT_EQ(positionAfter(51'000), 50'000) << "after the wait it runs by itself";
}

// A chunk whose frame i carries the value first + i on both channels.
AudioChunk ramp(uint64_t serial, int64_t ptsUs, int frames, int16_t first) {
    AudioChunk c{serial, ptsUs, {}};
    for (int i = 0; i < frames; ++i)
        c.samples.insert(c.samples.end(), 2, static_cast<int16_t>(first + i));
    return c;
}

class PcmAlignerTest : public ::testing::Test {
  protected:
    static int64_t usOfFrames(int64_t frames) { return frames * 1'000'000 / kOutputRate; }
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

constexpr int64_t kLengthUs = 1'000'000;

TEST(LoopCursor, OnlyAPassFromTheStartThatGaveNothingEndsTheLoop) {
    LoopCursor cursor(kLengthUs);
    // Sound shorter than the picture: a seek beyond its end finds nothing,
    // yet the next repetition has sound.
    EXPECT_EQ(cursor.restart(1, 2'900'000), 900'000) << "a target past the end wraps";
    ASSERT_TRUE(cursor.wrapAtEnd());
    EXPECT_EQ(cursor.place(0), kLengthUs);
    ASSERT_TRUE(cursor.wrapAtEnd());
    EXPECT_EQ(cursor.place(100), 2 * kLengthUs + 100);
    ASSERT_TRUE(cursor.wrapAtEnd());
    // A file that gives nothing from its start would spin.
    EXPECT_FALSE(cursor.wrapAtEnd());

    LoopCursor once(0);
    once.restart(1, 0);
    once.place(0);
    EXPECT_FALSE(once.wrapAtEnd()) << "an item that does not loop";
}

TEST(PresentDecision, ShowsWhenDueWaitsUntilThenDropsOnlyForADueSuccessor) {
    using Action = PresentDecision::Action;
    const FrameTiming timing(Rational{1, 90'000}, 0, Rational{30, 1});
    const int64_t due = 100'000 - timing.slackUs(); // the clock time the front frame starts
    const QueuedTime front{1, 100'000};
    const QueuedTime next{1, 133'333}, nextOfNewSerial{2, 133'333};
    using Row = std::tuple<const char*, std::optional<QueuedTime>, int64_t, bool, Action, int64_t>;
    const Row rows[] = {
        {"early: waits exactly until due", next, due - 5'000, true, Action::wait, 5'000},
        {"due to the microsecond", next, due, true, Action::show, 0},
        {"late, successor not due yet", next, due + 20'000, true, Action::show, 0},
        {"late, successor due", next, due + 40'000, true, Action::drop, 0},
        {"late, successor due, no dropping", next, due + 40'000, false, Action::show, 0},
        {"late, successor of a newer serial", nextOfNewSerial, due + 40'000, true, Action::show, 0},
        {"late, nothing behind it", std::nullopt, due + 40'000, true, Action::show, 0},
    };
    for (const auto& [what, behind, nowUs, dropLate, action, waitUs] : rows) {
        SCOPED_TRACE(what);
        const PresentDecision d = decidePresentation(timing, front, behind, nowUs, dropLate);
        EXPECT_EQ(d.action, action);
        if (action == Action::wait) {
            EXPECT_EQ(d.waitUs, waitUs);
        }
    }
}

} // namespace
} // namespace kavlo
