// The preview player on generated index-coded files. There is no sound device in
// CI; the files with sound check that its absence costs nothing.
#include "playback/preview_player.h"
#include "playback_test_util.h"

#include <chrono>
#include <thread>

namespace kavlo {
namespace {

using namespace test;

class PreviewPlayerTest : public ::testing::Test {
  protected:
    static std::string loop12() {
        return sharedClip("loop12-sound.mp4", {.frames = 12, .audio = "sin(2*PI*440*t)"});
    }
    static std::string silent30() {
        return sharedClip("silent30-gop10.mp4",
                          {.frames = 30, .keyframeInterval = 10, .preset = "veryfast"});
    }
    // Twenty frames 192 wide, which tells them from the others'.
    static std::string wide20() { return sharedClip("wide20.mp4", {.width = 192, .frames = 20}); }

    // Every frame must arrive, even on a machine too busy to keep time, so
    // late frames are not skipped here.
    static PreviewPlayer::Options exact() { return {.dropLateFrames = false}; }

    bool seekAndWait(double t) { return test::seekAndWait(player_, player_, t).finished; }

    PreviewPlayer player_{exact()};
    FrameRecorder recorder_{player_, player_};
};

TEST_F(PreviewPlayerTest, ALoopShowsEveryFrameInOrderAndWrapsWithoutRepeats) {
    // The playback clock is the test's: it moves 10 ms at every look, and
    // each frame must arrive once the clock has reached it, never before.
    TestClock clock;
    PreviewPlayer::Options options = exact();
    options.now = clock.now();
    PreviewPlayer player(options);
    FrameRecorder recorder(player, player);
    std::vector<int64_t> arrivals; // the clock when each frame came
    QObject::connect(&player, &FrameSource::frameChanged, &player,
                     [&] { arrivals.push_back(clock.nowUs()); });
    player.setItem(loop12(), Player::Looping::on);
    ASSERT_TRUE(waitUntil([&] { return !recorder.frames.empty(); }));
    const int64_t startUs = clock.nowUs();
    player.play();
    ASSERT_TRUE(waitUntil([&] {
        clock.advance(10'000);
        return recorder.frames.size() >= 12 * 4 + 1;
    }));
    player.pause();
    const auto& seen = recorder.frames;
    for (size_t i = 0; i < seen.size(); ++i) {
        ASSERT_EQ(seen[i].index, int(i % 12)) << "frame " << i;
        ASSERT_NEAR(seen[i].timeSeconds, (i % 12) / 30.0, 1e-6) << "frame " << i;
        // Frame i of the loop is due at i / 30 s of play.
        EXPECT_GE(arrivals[i] - startUs, int64_t(i * 1'000'000 / 30) - 1'000)
            << "frame " << i << " came early";
    }
}

TEST_F(PreviewPlayerTest, PausingStopsFramesAndObserversAndPlayGoesOnFromThePictureOrASeek) {
    player_.setItem(silent30());
    std::vector<double> times;
    player_.addPeriodicTimeObserver(1.0 / 120, [&](double t) { times.push_back(t); });
    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= 8 && times.size() >= 10; }));
    player_.pause();
    QTest::qWait(150); // frames already on their way arrive
    const size_t atPause = recorder_.frames.size(), ticksAtPause = times.size();
    const int shown = imageFrameIndex(player_.currentImage());
    EXPECT_EQ(shown, recorder_.frames.back().index);
    QTest::qWait(300);
    EXPECT_EQ(recorder_.frames.size(), atPause) << "frames arrived while paused";
    EXPECT_EQ(times.size(), ticksAtPause) << "observers ticked while paused";
    EXPECT_NEAR(player_.currentTimeSeconds(), shown / 30.0, 1e-6);

    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= atPause + 3; }));
    for (size_t i = atPause; i < atPause + 3; ++i)
        EXPECT_EQ(recorder_.frames[i].index, shown + int(i - atPause) + 1);

    // Playing on from a seek back over a key frame.
    player_.pause();
    ASSERT_TRUE(seekAndWait(29 / 30.0));
    ASSERT_TRUE(seekAndWait(12.5 / 30));
    const size_t before = recorder_.frames.size();
    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= before + 3; }));
    EXPECT_EQ(recorder_.frames[before].index, 13);
    EXPECT_EQ(recorder_.frames[before + 2].index, 15);
}

TEST_F(PreviewPlayerTest, FramesOnTheirWayWhenASeekIsMadeAreNotShown) {
    player_.setItem(silent30(), Player::Looping::on);
    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= 3; }));
    // The UI thread is busy for a moment: frames queue up for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const size_t before = recorder_.frames.size();
    bool finished = false;
    player_.seek(25 / 30.0, 0, [&](bool f) { finished = f; });
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    ASSERT_GT(recorder_.frames.size(), before);
    EXPECT_EQ(recorder_.frames[before].index, 25) << "a frame from before the seek was shown";
}

TEST_F(PreviewPlayerTest, CompletionsComeOnceInOrderAndOnlyTheLastSeekOfAReadableItemFinishes) {
    QString message;
    QObject::connect(&player_, &PreviewPlayer::failed, [&](const QString& m) { message = m; });
    CompletionLog log;
    player_.seek(0.1, 0, log.make(0)); // no item yet
    player_.setItem("/nonexistent/kavlo-missing.mp4", Player::Looping::on);
    player_.play();
    player_.seek(0.1, 0, log.make(1));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 2 && !message.isEmpty(); }));
    // Still usable: of the seeks at once only the last finishes.
    player_.setItem(silent30(), Player::Looping::on);
    player_.seek(0.2, 0, log.make(2));
    player_.seek(0.3, 0, log.make(3));
    player_.seek(0.5, 0, log.make(4));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 5; }));
    QTest::qWait(200);
    EXPECT_EQ(log.calls, (std::vector<std::pair<int, bool>>{
                             {0, false}, {1, false}, {2, false}, {3, false}, {4, true}}));
    EXPECT_EQ(imageFrameIndex(player_.currentImage()), 15);

    // A seek still pending when the item changes does not finish.
    player_.seek(0.7, 0, log.make(5));
    player_.setItem(silent30());
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 6; }));
    EXPECT_EQ(log.calls[5], std::make_pair(5, false));
}

TEST_F(PreviewPlayerTest, ANewItemShowsOnlyItsFirstFrameUntilPlayedAndNothingOfTheOldOne) {
    player_.setItem(silent30(), Player::Looping::on);
    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= 5; }));
    player_.setItem(wide20(), Player::Looping::on);
    const size_t switched = recorder_.frames.size();
    EXPECT_FALSE(player_.isPlaying()) << "a new item starts paused";
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() > switched; }));
    QTest::qWait(200);
    ASSERT_EQ(recorder_.frames.size(), switched + 1) << "frames came while paused";
    player_.play();
    ASSERT_TRUE(waitUntil([&] { return recorder_.frames.size() >= switched + 25; }));
    for (size_t i = switched; i < recorder_.frames.size(); ++i) {
        ASSERT_EQ(recorder_.frames[i].width, 192) << "a frame of the old item after the switch";
        ASSERT_EQ(recorder_.frames[i].index, int((i - switched) % 20));
    }

    player_.clearItem();
    EXPECT_TRUE(player_.currentImage().isNull());
    player_.play();
    EXPECT_FALSE(player_.isPlaying());
}

} // namespace
} // namespace kavlo
