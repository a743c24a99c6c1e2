// The scrub player on generated index-coded sources: where seeks land,
// completions, superseded seeks, pictures on the way, item changes and
// picture sizes.
#include "playback/scrub_player.h"
#include "playback_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <thread>

namespace kavlo {
namespace {

using namespace test;

class ScrubPlayerTest : public ::testing::Test {
  protected:
    // 48 frames at 30 fps in GOPs of 12 with B-frames, so seeks need key
    // frames, reordering and skipped frames to come out right.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        source_ = makeIndexedVideo(dir_->path() / "gop12-bframes.mp4",
                                   {.frames = 48, .keyframeInterval = 12, .preset = "veryfast"})
                      .string();
    }
    static void TearDownTestSuite() { delete dir_; }

    // Seeks and waits for the completion; returns the index on screen when
    // it came, which must already be the picture the seek promises.
    int seekAndRead(double t) {
        int shown = -2;
        bool finished = false;
        player_.seek(t, 0, [&](bool f) {
            finished = f;
            shown = imageFrameIndex(player_.currentImage());
        });
        EXPECT_TRUE(waitUntil([&] { return shown != -2; })) << "seek to " << t;
        EXPECT_TRUE(finished) << "seek to " << t;
        return shown;
    }

    static TempDir* dir_;
    static std::string source_;
    ScrubPlayer player_;
};

TempDir* ScrubPlayerTest::dir_ = nullptr;
std::string ScrubPlayerTest::source_;

TEST_F(ScrubPlayerTest, LandsOnTheFrameWhoseIntervalHoldsTheTimeInAnyOrder) {
    player_.setItem(source_);
    // Frame k is on screen from k/30 up to (k+1)/30: its start belongs to
    // it, a moment before its start to the frame before. Shuffled, so seeks
    // go backwards over GOPs, forwards within them and hit the cache.
    std::vector<int> order(48);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int k : order) {
        ASSERT_EQ(seekAndRead(k / 30.0), k) << "start of frame " << k;
        EXPECT_DOUBLE_EQ(player_.currentTimeSeconds(), std::round(k / 30.0 * 1e6) / 1e6);
        ASSERT_EQ(seekAndRead((k + 0.5) / 30.0), k) << "middle of frame " << k;
        if (k > 0) {
            ASSERT_EQ(seekAndRead(k / 30.0 - 0.001), k - 1) << "just before frame " << k;
        }
    }
}

TEST_F(ScrubPlayerTest, TimesOutsideTheSourceShowItsFirstAndLastFrames) {
    player_.setItem(source_);
    EXPECT_EQ(seekAndRead(-1.0), 0);
    EXPECT_EQ(seekAndRead(47.5 / 30), 47);
    EXPECT_EQ(seekAndRead(60.0), 47);
    EXPECT_EQ(seekAndRead(0.0), 0);
}

TEST_F(ScrubPlayerTest, EverySeekCompletesOnceInOrderAndTheNewestWins) {
    player_.setItem(source_);
    CompletionLog log;
    // Issued at once: the worker starts one and supersedes the waiting ones.
    for (int i = 0; i < 10; ++i)
        player_.seek((4 * i + 1) / 30.0, 0, log.make(i));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 10; }));
    settle(100);
    ASSERT_EQ(log.calls.size(), 10u) << "a completion came twice";
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(log.calls[i].first, i) << "out of order";
    EXPECT_TRUE(log.calls.back().second);
    EXPECT_GE(std::count_if(log.calls.begin(), log.calls.end(), [](auto& c) { return !c.second; }),
              1)
        << "ten seeks at once were all carried out";
    EXPECT_EQ(imageFrameIndex(player_.currentImage()), 37);
}

TEST_F(ScrubPlayerTest, SeeksWithoutAnItemOrForAReplacedItemDoNotFinish) {
    CompletionLog log;
    player_.seek(0.5, 0, log.make(0));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 1; }));
    EXPECT_FALSE(log.calls[0].second);
    EXPECT_TRUE(player_.currentImage().isNull());

    // A seek on the old item, then a new item before the worker could act.
    player_.setItem(source_);
    player_.seek(0.5, 0, log.make(1));
    player_.setItem(source_);
    player_.seek(1.0, 0, log.make(2));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 3; }));
    EXPECT_EQ(log.calls[1], std::make_pair(1, false));
    EXPECT_EQ(log.calls[2], std::make_pair(2, true));
    EXPECT_EQ(imageFrameIndex(player_.currentImage()), 30);

    player_.clearItem();
    EXPECT_TRUE(player_.currentImage().isNull());
    EXPECT_FALSE(player_.hasItem());
    player_.seek(0.5, 0, log.make(3));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 4; }));
    EXPECT_FALSE(log.calls[3].second);
}

// Right after a seek the worker decodes ahead while idle; clearing or
// replacing the item then must not leave it working on a closed decoder.
TEST_F(ScrubPlayerTest, ClearingTheItemWhileTheWorkerDecodesAheadIsSafe) {
    CompletionLog log;
    for (int round = 0; round < 30; ++round) {
        player_.setItem(source_);
        player_.seek(0.5, 0, log.make(round));
        ASSERT_TRUE(waitUntil([&] { return log.calls.size() == size_t(round) + 1; }));
        EXPECT_TRUE(log.calls.back().second);
        if (round % 2 == 0)
            player_.clearItem();
        else
            player_.setItem(dir_->path().string() + "/missing.mp4");
    }
    player_.setItem(source_);
    player_.seek(1.0, 0, log.make(30));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 31; }));
    EXPECT_EQ(imageFrameIndex(player_.currentImage()), 30);
}

TEST_F(ScrubPlayerTest, ASeekThatLandsAfterItsItemWasReplacedDoesNotFinish) {
    player_.setItem(source_);
    CompletionLog log;
    player_.seek(0.5, 0, log.make(0));
    // The worker lands the seek while the UI thread is busy; the item is
    // replaced before the news arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    player_.setItem(source_);
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 1; }));
    EXPECT_FALSE(log.calls[0].second);
    EXPECT_TRUE(player_.currentImage().isNull()) << "the old item's frame was shown";
}

TEST_F(ScrubPlayerTest, APictureReadyForAReplacedItemIsNotShown) {
    player_.setItem(source_);
    ASSERT_EQ(seekAndRead(10 / 30.0), 10);
    ASSERT_EQ(seekAndRead(20 / 30.0), 20);
    // Frame 10's picture is ready, so the seek needs no decoding; the item
    // changes before its answer arrives.
    CompletionLog log;
    player_.seek(10 / 30.0, 0, log.make(0));
    player_.setItem(source_);
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 1; }));
    EXPECT_FALSE(log.calls[0].second);
    EXPECT_TRUE(player_.currentImage().isNull()) << "the old item's frame was shown";
    EXPECT_EQ(seekAndRead(10 / 30.0), 10);
}

TEST_F(ScrubPlayerTest, AColdSeekShowsAFrameOnTheWayThenItsOwnAtTheViewsSize) {
    player_.setItem(source_);
    player_.setViewSize({160, 96});
    FrameRecorder recorder(player_, player_);
    EXPECT_EQ(seekAndRead(35.5 / 30), 35);
    ASSERT_GE(recorder.frames.size(), 2u);
    // The key frame of its GOP first (at half the size: it is soon gone).
    EXPECT_EQ(recorder.frames.front().index, 24);
    EXPECT_EQ(recorder.frames.front().width, 80);
    EXPECT_EQ(recorder.frames.back().index, 35);
    EXPECT_EQ(recorder.frames.back().width, 160);
}

TEST_F(ScrubPlayerTest, PicturesFitTheViewAndFollowItsSize) {
    player_.setItem(source_);
    player_.setViewSize({80, 80});
    ASSERT_EQ(seekAndRead(0.2), 6);
    EXPECT_EQ(player_.currentImage().width(), 80);
    EXPECT_EQ(player_.currentImage().height(), 48);

    // A new size redraws the frame on screen without a seek.
    FrameRecorder recorder(player_, player_);
    player_.setViewSize({1000, 1000}); // never larger than the source
    ASSERT_TRUE(waitUntil([&] { return !recorder.frames.empty(); }));
    EXPECT_EQ(recorder.frames.back().index, 6);
    EXPECT_EQ(recorder.frames.back().width, 160);
    EXPECT_EQ(recorder.frames.back().height, 96);
    EXPECT_DOUBLE_EQ(player_.currentTimeSeconds(), 0.2);
}

TEST_F(ScrubPlayerTest, TurnedAndMirroredSourcesComeOutUpright) {
    TempDir dir;
    for (const auto& turn : kTurnedClips) {
        SCOPED_TRACE(turn.name);
        player_.setItem(makeTurnedVideo(dir.path(), turn, 8).string());
        EXPECT_EQ(seekAndRead(4.5 / 30), 4);
        EXPECT_EQ(player_.currentImage().width(), 96);
        EXPECT_EQ(player_.currentImage().height(), 160);
    }
}

TEST_F(ScrubPlayerTest, UnreadableFilesFailWithoutCrashing) {
    QString message;
    QObject::connect(&player_, &ScrubPlayer::failed, [&](const QString& m) { message = m; });
    player_.setItem("/nonexistent/kavlo-missing.mp4");
    CompletionLog log;
    player_.seek(0.1, 0, log.make(0));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 1; }));
    EXPECT_FALSE(log.calls[0].second);
    EXPECT_FALSE(message.isEmpty());
}

} // namespace
} // namespace kavlo
