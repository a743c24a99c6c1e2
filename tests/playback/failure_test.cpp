// What goes wrong under the players: damaged files (each player shows what it
// can read or says why, neither crashes nor hangs), and a playback thread's
// failure (here std::bad_alloc as it wakes its owner) reaching its owner.
#include "playback/preview_pipeline.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "playback/scrub_worker.h"
#include "playback_test_util.h"
#include "support/broken_media.h"
#include "support/test_media.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <set>
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

// Wake-ups from a playback thread, as an owner sees them, with a wait that
// busy machines cannot fail. The wake-ups numbered in `failing` (from 1)
// run out of memory, as posting a wake-up to a thread can.
class Wakes {
  public:
    explicit Wakes(std::set<int> failing) : failing_(std::move(failing)) {}

    std::function<void()> wake() {
        return [this] {
            {
                std::lock_guard lock(mutex_);
                if (failing_.count(++count_))
                    throw std::bad_alloc();
            }
            changed_.notify_all();
        };
    }
    // Until `pred` holds, asked again after every wake-up.
    template <typename Pred> bool waitFor(Pred pred) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), pred);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<int> failing_;
    int count_ = 0;
};

class ThreadFailureTest : public ::testing::Test {
  protected:
    const std::string clip_ = sharedClip("ten.mp4", {.frames = 10});
};

TEST_F(ThreadFailureTest, OutOfMemoryOnThePresenterThreadIsThePlayersFailure) {
    Wakes wakes({1}); // the first picture's
    PreviewPipeline pipeline(clip_, {}, nullptr, wakes.wake());
    ASSERT_TRUE(wakes.waitFor([&] { return pipeline.failure().has_value(); }));
    EXPECT_EQ(pipeline.failure(), "Not enough memory.");
}

TEST_F(ThreadFailureTest, TheScrubWorkerReportsEachFailureAndServesTheNextSeek) {
    // Each seek to the first frame reports its picture, then its completion
    // (no pictures on the way). The first seek fails as it wakes the owner
    // for its completion (outside any seek), the second as it wakes it for
    // its picture (inside the seek); the third goes through.
    Wakes wakes({2, 4});
    ScrubWorker worker(wakes.wake());
    std::vector<std::string> failures;
    std::vector<std::pair<uint64_t, bool>> seeks; // ticket, finished
    std::vector<int64_t> pictures;                // their times
    const auto taken = [&](size_t seekCount) {
        while (std::optional<ScrubWorker::Report> r = worker.take(1)) {
            using Kind = ScrubWorker::Report::Kind;
            if (r->kind == Kind::picture)
                pictures.push_back(r->ptsUs);
            else if (r->kind == Kind::seekDone)
                seeks.emplace_back(r->ticket, r->finished);
            else
                failures.push_back(r->message);
        }
        return seeks.size() == seekCount && failures.size() == std::min<size_t>(seekCount, 2);
    };
    worker.setItem(1, clip_);
    worker.seek(1, 1, 0);
    ASSERT_TRUE(wakes.waitFor([&] { return taken(1); }));
    worker.seek(2, 1, 0);
    ASSERT_TRUE(wakes.waitFor([&] { return taken(2); }));
    worker.seek(3, 1, 200'000);
    ASSERT_TRUE(wakes.waitFor([&] { return taken(3); }));
    // Nothing was lost with the wake-ups that failed.
    EXPECT_EQ(seeks, (std::vector<std::pair<uint64_t, bool>>{{1, true}, {2, false}, {3, true}}));
    EXPECT_EQ(failures, std::vector<std::string>(2, "Not enough memory."));
    ASSERT_GE(pictures.size(), 3u);
    EXPECT_EQ(pictures[0], 0);
    EXPECT_EQ(pictures[1], 0);
    EXPECT_EQ(pictures.back(), 200'000);
}

} // namespace
} // namespace kavlo
