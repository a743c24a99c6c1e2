// The scrub player on generated index-coded sources, and underneath it a scrub
// seek from a key frame far into its GOP, and when it gives way to a newer one.
#include "playback/scrub_decoder.h"
#include "playback/scrub_player.h"
#include "playback_test_util.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace kavlo {
namespace {

using namespace test;

class ScrubPlayerTest : public Gop12SourceTest {
  protected:
    // Seeks and waits for the completion; returns the index on screen when
    // it came, which must already be the picture the seek promises.
    int seekAndRead(double t) {
        const SeekOutcome outcome = seekAndWait(player_, player_, t);
        EXPECT_TRUE(outcome.finished) << "seek to " << t;
        return outcome.shown;
    }

    ScrubPlayer player_;
};

TEST_F(ScrubPlayerTest, EndsShowOutsideTheSourceTimesKeepMicrosecondsAndTurnedSourcesComeUpright) {
    player_.setItem(source_);
    EXPECT_EQ(seekAndRead(60.0), 47);
    EXPECT_EQ(seekAndRead(-1.0), 0);
    EXPECT_EQ(seekAndRead(7 / 30.0), 7);
    EXPECT_DOUBLE_EQ(player_.currentTimeSeconds(), std::round(7 / 30.0 * 1e6) / 1e6);

    TempDir dir;
    player_.setItem(makeTurnedVideo(dir.path(), kTurnedClips[4], 8).string());
    EXPECT_EQ(seekAndRead(4.5 / 30), 4);
    const VideoImage image = player_.currentImage();
    EXPECT_EQ(std::pair(image.width(), image.height()), std::pair(96, 160));
}

TEST_F(ScrubPlayerTest, EverySeekCompletesOnceInOrderAndTheNewestWins) {
    player_.setItem(source_);
    CompletionLog log;
    // Issued at once: the worker starts one and supersedes the waiting ones.
    for (int i = 0; i < 10; ++i)
        player_.seek((4 * i + 1) / 30.0, 0, log.make(i));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 10; }));
    QTest::qWait(100);
    ASSERT_EQ(log.calls.size(), 10u) << "a completion came twice";
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(log.calls[i].first, i) << "out of order";
    EXPECT_TRUE(log.calls.back().second);
    EXPECT_GE(std::count_if(log.calls.begin(), log.calls.end(), [](auto& c) { return !c.second; }),
              1)
        << "ten seeks at once were all carried out";
    EXPECT_EQ(imageFrameIndex(player_.currentImage()), 37);
}

// Nothing of a replaced item appears once it is replaced: neither from a
// seek the worker landed while the UI thread was busy, nor from a picture
// the cache had ready.
TEST_F(ScrubPlayerTest, SeeksWithoutAReadableItemOrForAReplacedItemNeitherFinishNorShow) {
    QString message;
    QObject::connect(&player_, &ScrubPlayer::failed, [&](const QString& m) { message = m; });
    CompletionLog log;
    player_.seek(0.5, 0, log.make(0));
    player_.setItem("/nonexistent/kavlo-missing.mp4");
    player_.seek(0.5, 0, log.make(1));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 2 && !message.isEmpty(); }));
    // A seek on the old item, then a new item before the worker could act;
    // then one the worker lands while the UI thread is busy.
    player_.setItem(source_);
    player_.seek(0.5, 0, log.make(2));
    player_.setItem(source_);
    player_.seek(0.5, 0, log.make(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    player_.setItem(source_);
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 4; }));
    EXPECT_TRUE(player_.currentImage().isNull()) << "a landed seek's frame was shown";

    ASSERT_EQ(seekAndRead(10 / 30.0), 10);
    ASSERT_EQ(seekAndRead(20 / 30.0), 20);
    player_.seek(10 / 30.0, 0, log.make(4)); // its picture is ready: no decoding
    player_.setItem(source_);
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 5; }));
    EXPECT_TRUE(player_.currentImage().isNull()) << "a ready picture was shown";
    EXPECT_EQ(log.calls, (std::vector<std::pair<int, bool>>{
                             {0, false}, {1, false}, {2, false}, {3, false}, {4, false}}));
    EXPECT_EQ(seekAndRead(1.0), 30);

    player_.clearItem();
    EXPECT_TRUE(player_.currentImage().isNull());
    player_.seek(0.5, 0, log.make(5));
    ASSERT_TRUE(waitUntil([&] { return log.calls.size() == 6; }));
    EXPECT_FALSE(log.calls[5].second);
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
            player_.setItem("/nonexistent/kavlo-missing.mp4");
    }
    player_.setItem(source_);
    EXPECT_EQ(seekAndRead(1.0), 30);
}

TEST_F(ScrubPlayerTest, AColdSeekShowsItsKeyFrameFirstAndPicturesFollowTheViewsSize) {
    player_.setItem(source_);
    player_.setViewSize({160, 96});
    FrameRecorder recorder(player_, player_);
    EXPECT_EQ(seekAndRead(35.5 / 30), 35);
    ASSERT_GE(recorder.frames.size(), 2u);
    // The key frame of its GOP first, at half the size: it is soon gone.
    EXPECT_EQ(std::pair(recorder.frames.front().index, recorder.frames.front().width),
              std::pair(24, 80));
    EXPECT_EQ(std::pair(recorder.frames.back().index, recorder.frames.back().width),
              std::pair(35, 160));

    // A new size redraws the frame on screen without a seek, fitted, never
    // larger than the source.
    for (auto [view, width, height] :
         {std::tuple(PixelSize{80, 80}, 80, 48), std::tuple(PixelSize{1000, 1000}, 160, 96)}) {
        const size_t before = recorder.frames.size();
        player_.setViewSize(view);
        ASSERT_TRUE(waitUntil([&] { return recorder.frames.size() > before; }));
        EXPECT_EQ(recorder.frames.back().index, 35);
        EXPECT_EQ(std::pair(recorder.frames.back().width, recorder.frames.back().height),
                  std::pair(width, height));
    }
}

class ScrubDecoderTest : public Gop12SourceTest {
  protected:
    void SetUp() override { cache_.reset(1, decoder_.timing()); }
    static int64_t frameUs(int k) { return (k * 1'000'000 + 15'000) / 30; } // inside frame k

    // Seeks to frame `target`; from the `askedFrom`th frame on the way, a
    // newer seek to frame `newer` waits. The index shown, or nothing when
    // the seek gave way.
    std::optional<int> show(int target, std::optional<int> newer = {}, int askedFrom = 1) {
        ScrubDecoder::SeekProgress progress;
        progress.interim = [&](ScrubDecoder::Picture p) {
            interims_.push_back(imageFrameIndex(p.image));
        };
        int asked = 0;
        progress.newer = [&]() -> std::optional<int64_t> {
            if (!newer || ++asked < askedFrom)
                return std::nullopt;
            return frameUs(*newer);
        };
        try {
            return imageFrameIndex(decoder_.show(frameUs(target), kBox, progress).image);
        } catch (const ScrubDecoder::GaveWay&) {
            return std::nullopt;
        }
    }

    static constexpr PixelSize kBox{160, 96};
    FrameCache cache_{64u << 20};
    ScrubDecoder decoder_{source_, cache_};
    std::vector<int> interims_;
};

TEST_F(ScrubDecoderTest, GivesWayToASeekAheadOrInAnotherGopAndLandsThereExactly) {
    // Ahead in the same GOP: decoding goes on toward it.
    EXPECT_EQ(show(8, 10), std::nullopt);
    EXPECT_EQ(show(10), 10);
    // In another GOP, ahead or behind.
    EXPECT_EQ(show(35, 44), std::nullopt);
    EXPECT_EQ(show(44), 44);
    EXPECT_EQ(show(23, 2, 3), std::nullopt);
    EXPECT_EQ(show(2), 2);
}

TEST_F(ScrubDecoderTest, AnAbandonedSeekGivesUpAndTheNextLandsExactly) {
    ScrubDecoder::SeekProgress progress;
    progress.abandoned = [] { return true; };
    EXPECT_THROW(decoder_.show(frameUs(20), kBox, progress), ScrubDecoder::GaveWay);
    EXPECT_EQ(show(20), 20);
}

TEST_F(ScrubDecoderTest, ASeekBeforeTheTargetInTheSameGopLandsExactlyAfterWaitingOrNot) {
    // Decoded on the way to frame 11: 0, 2, 4, 7, 9, 11; the unreferenced
    // B-frames in between (1, 3, 5, 6, 8, 10) are skipped, some already sent
    // to the decoder when a newer seek for one of them is noticed. Giving
    // way must not then show a neighbour of it instead.
    for (auto [newer, askedFrom] :
         {std::pair{1, 3}, std::pair{5, 3}, std::pair{8, 4}, std::pair{10, 5}, std::pair{6, 2}}) {
        cache_.reset(1, decoder_.timing());
        const std::optional<int> shown = show(11, newer, askedFrom);
        if (shown)
            EXPECT_EQ(*shown, 11) << newer;
        else
            EXPECT_EQ(show(newer), newer);
    }
}

} // namespace
} // namespace kavlo
