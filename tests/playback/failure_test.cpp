// What goes wrong under the players. Both players on damaged files: each
// shows what it can read or reports a message, and neither crashes nor
// hangs, also while the item plays on into the damage. And whatever a
// playback thread meets (here std::bad_alloc, thrown from the callbacks the
// threads call) becomes a failure its owner hears about, and the process
// goes on.
#include "playback/preview_pipeline.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "playback/scrub_worker.h"
#include "playback_test_util.h"
#include "support/broken_media.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

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
        const auto [finished, shown] = seekAndWait(player, player, t);
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

// What the threads reported, with a wait that busy machines cannot fail.
struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> failures;
    std::vector<std::pair<uint64_t, bool>> seeks; // ticket, finished
    std::vector<int64_t> frames;                  // times of the pictures shown

    template <typename Pred> bool waitFor(Pred pred) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), pred);
    }
    void add(const std::function<void()>& change) {
        {
            std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }
};

class ThreadFailureTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_.emplace();
        clip_ = makeIndexedVideo(dir_->path() / "clip.mp4", {.frames = 10}).string();
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static inline std::optional<TempDir> dir_;
    static inline std::string clip_;
    Reports reports_;
};

TEST_F(ThreadFailureTest, OutOfMemoryOnThePresenterThreadIsThePlayersFailure) {
    PreviewPipeline::Callbacks callbacks;
    callbacks.frame = [](uint64_t, int64_t, VideoImage) { throw std::bad_alloc(); };
    callbacks.failed = [&](const std::string& message) {
        reports_.add([&] { reports_.failures.push_back(message); });
    };
    PreviewPipeline pipeline(clip_, {}, nullptr, callbacks);
    ASSERT_TRUE(reports_.waitFor([&] { return !reports_.failures.empty(); }));
    EXPECT_EQ(reports_.failures.front(), "Not enough memory.");
}

TEST_F(ThreadFailureTest, TheScrubWorkerReportsEachFailureAndServesTheNextSeek) {
    bool pictureFails = true;
    ScrubWorker::Callbacks callbacks;
    // The first seek fails while its picture is handed over, the second
    // while its completion is; the third goes through.
    callbacks.frame = [&](uint64_t, int64_t ptsUs, VideoImage) {
        if (std::exchange(pictureFails, false))
            throw std::bad_alloc();
        reports_.add([&] { reports_.frames.push_back(ptsUs); });
    };
    callbacks.seekDone = [&](uint64_t ticket, uint64_t, bool finished) {
        if (ticket == 2)
            throw std::bad_alloc();
        reports_.add([&] { reports_.seeks.emplace_back(ticket, finished); });
    };
    callbacks.failed = [&](uint64_t, const std::string& message) {
        reports_.add([&] { reports_.failures.push_back(message); });
    };
    ScrubWorker worker(callbacks);
    worker.setItem(1, clip_);
    worker.seek(1, 1, 0);
    ASSERT_TRUE(reports_.waitFor([&] { return reports_.seeks.size() == 1; }));
    EXPECT_EQ(reports_.seeks[0], std::make_pair(uint64_t(1), false));
    worker.seek(2, 1, 100'000);
    ASSERT_TRUE(reports_.waitFor([&] { return reports_.failures.size() == 2; }));
    worker.seek(3, 1, 200'000);
    ASSERT_TRUE(reports_.waitFor([&] { return reports_.seeks.size() == 2; }));
    EXPECT_EQ(reports_.seeks[1], std::make_pair(uint64_t(3), true));
    EXPECT_EQ(reports_.failures, std::vector<std::string>(2, "Not enough memory."));
    // Each later seek showed its frame (and, on a busy machine, perhaps
    // frames on the way to it).
    ASSERT_FALSE(reports_.frames.empty());
    EXPECT_NE(std::find(reports_.frames.begin(), reports_.frames.end(), 100'000),
              reports_.frames.end());
    EXPECT_EQ(reports_.frames.back(), 200'000);
}

} // namespace
} // namespace kavlo
