// Both players on damaged files: each shows what it can read or reports a
// message, and neither crashes nor hangs, also while the item plays on
// into the damage.
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "playback_test_util.h"
#include "support/broken_media.h"

#include <gtest/gtest.h>

#include <optional>

namespace kavlo {
namespace {

using namespace test;

class BrokenItem : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() {
        dir_.emplace();
        const auto clip =
            makeIndexedVideo(dir_->path() / "clip.mp4", {.frames = 60, .audio = "sin(2*PI*440*t)"});
        files_ = makeBrokenFiles(dir_->path(), clip, 2.0);
    }
    static void TearDownTestSuite() { dir_.reset(); }
    const BrokenFile& file() const { return files_.at(GetParam()); }

    static inline std::optional<TempDir> dir_;
    static inline std::vector<BrokenFile> files_;
};

TEST_P(BrokenItem, ThePreviewShowsTheIntactStartOrSaysWhyNot) {
    PreviewPlayer player(PreviewPlayer::Options{.dropLateFrames = false});
    FrameRecorder recorder(player, player);
    QString message;
    QObject::connect(&player, &PreviewPlayer::failed, [&](const QString& m) { message = m; });
    player.setItem(file().path.string(), Player::Looping::on);
    ASSERT_TRUE(waitUntil([&] { return !recorder.frames.empty() || !message.isEmpty(); }));
    if (file().intactSeconds > 0) {
        ASSERT_FALSE(recorder.frames.empty()) << message.toStdString();
        EXPECT_EQ(recorder.frames[0].index, 0);
    }
    // Playing on into the damaged part, and looping over it.
    player.play();
    QTest::qWait(1000);
    player.pause();
    for (const auto& seen : recorder.frames)
        EXPECT_LT(seen.index, 60);
}

TEST_P(BrokenItem, ScrubbingShowsTheIntactStartOrSaysWhyNot) {
    ScrubPlayer player;
    QString message;
    QObject::connect(&player, &ScrubPlayer::failed, [&](const QString& m) { message = m; });
    player.setItem(file().path.string());
    for (double t : {0.1, 1.9, 0.9, 0.2}) {
        bool done = false, finished = false;
        int shown = -2;
        player.seek(t, 0, [&](bool f) {
            done = true;
            finished = f;
            shown = imageFrameIndex(player.currentImage());
        });
        ASSERT_TRUE(waitUntil([&] { return done; })) << t;
        if (t < file().intactSeconds) {
            EXPECT_TRUE(finished) << t << ": " << message.toStdString();
            EXPECT_EQ(shown, int(t * 30)) << t;
        } else if (!finished) {
            EXPECT_FALSE(message.isEmpty()) << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Playback, BrokenItem, ::testing::Range(0, test::kBrokenFileCount),
                         [](const auto& info) {
                             return std::string(test::kBrokenFileNames[info.param]);
                         });

} // namespace
} // namespace kavlo
