// The playback clock against a fake time source.
#include "playback/media_clock.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

class MediaClockTest : public ::testing::Test {
  protected:
    int64_t nowUs_ = 1'000'000;
    MediaClock clock_{[this] { return nowUs_; }};
};

TEST_F(MediaClockTest, RunsOnlyWhileNotPausedAndResumesWhereItStoppedOrWasReset) {
    clock_.reset(1, 500'000);
    nowUs_ += 40'000;
    EXPECT_EQ(clock_.positionUs(), 500'000) << "a new clock starts paused";
    clock_.setPaused(false);
    nowUs_ += 40'000;
    EXPECT_EQ(clock_.positionUs(), 540'000);
    clock_.setPaused(true);
    nowUs_ += 1'000'000;
    EXPECT_EQ(clock_.positionUs(), 540'000);
    clock_.setPaused(false);
    nowUs_ += 10'000;
    EXPECT_EQ(clock_.positionUs(), 550'000);
    clock_.reset(2, 3'000'000); // a running clock runs on from there
    EXPECT_EQ(clock_.serial(), 2u);
    nowUs_ += 5'000;
    EXPECT_EQ(clock_.positionUs(), 3'005'000);
}

TEST_F(MediaClockTest, FollowsTheAudioDeviceOfItsOwnGenerationOnly) {
    clock_.reset(3, 0);
    clock_.setPaused(false);
    nowUs_ += 100'000;
    clock_.syncToAudio(3, 80'000); // the device lags the monotonic clock
    EXPECT_EQ(clock_.positionUs(), 80'000);
    nowUs_ += 10'000;
    EXPECT_EQ(clock_.positionUs(), 90'000) << "it runs on between reports";
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

TEST_F(MediaClockTest, HoldsForTheDeviceUntilItIsHeardToMove) {
    clock_.reset(1, 200'000);
    clock_.setPaused(false);
    clock_.holdForAudio(300'000);
    nowUs_ += 50'000;
    EXPECT_EQ(clock_.positionUs(), 200'000);
    clock_.syncToAudio(1, 200'000); // where the device stands: not yet moving
    nowUs_ += 50'000;
    clock_.syncToAudio(1, 200'000);
    EXPECT_EQ(clock_.positionUs(), 200'000);
    nowUs_ += 20'000;
    clock_.syncToAudio(1, 212'000); // now it plays
    EXPECT_EQ(clock_.positionUs(), 212'000);
    nowUs_ += 8'000;
    EXPECT_EQ(clock_.positionUs(), 220'000);
}

TEST_F(MediaClockTest, ASilentDeviceDoesNotStallThePictureForLong) {
    clock_.reset(1, 0);
    clock_.setPaused(false);
    clock_.holdForAudio(300'000);
    nowUs_ += 299'000;
    EXPECT_EQ(clock_.positionUs(), 0);
    nowUs_ += 51'000;
    EXPECT_EQ(clock_.positionUs(), 50'000) << "after the wait it runs by itself";
}

} // namespace
} // namespace kavlo
