// The renderer, the preview player and the scrub player choose the same
// frame for the same time, on sources whose video starts after their sound:
// a one-frame difference would export another frame than the one scrubbed.
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "playback_test_util.h"
#include "support/rendered_frames.h"

#include <algorithm>
#include <map>
#include <random>

namespace kavlo {
namespace {

using namespace test;

int shownIndexAt(Player& player, FrameSource& pictures, double t) {
    const SeekOutcome outcome = seekAndWait(player, pictures, t);
    return outcome.finished ? outcome.shown : -3;
}

class FrameAgreementTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FrameAgreementTest, RendererAndBothPlayersShowTheSameFrameAtEveryTime) {
    // 59.94 frames per second with B-frames and short GOPs; Matroska
    // rounds its times to milliseconds; in MPEG-TS, which has no index,
    // seeks land inside GOPs and must go back. The video starts a tenth of
    // a second (plus the sound encoder's priming) after the sound.
    TempDir dir;
    const auto made = makeIndexedVideo(dir / "sound-first.mkv", {.rate = "60000/1001",
                                                                 .frames = 24,
                                                                 .keyframeInterval = 8,
                                                                 .preset = "veryfast",
                                                                 .audio = "sin(2*PI*440*t)"});
    const std::string path =
        delayVideo(made, dir / (std::string("video-late.") + GetParam()), 0.1).string();
    std::vector<double> starts;
    for (const ProbedFrame& f : decodeVideo(path).frames)
        starts.push_back(f.time);
    ASSERT_EQ(starts.size(), 24u);
    ASSERT_GT(starts.front(), 0.1) << "the video must start after the sound";

    // Times where a choice can go wrong: before the first frame, around every
    // frame's start (within and beyond timestamp rounding) and mid-frame.
    std::vector<double> times = {0.0, starts.front() / 2};
    for (size_t k = 0; k < starts.size(); ++k) {
        for (double offset : {-0.003, -0.0005, 0.0, 0.0005})
            times.push_back(starts[k] + offset);
        if (k + 1 < starts.size())
            times.push_back((starts[k] + starts[k + 1]) / 2);
    }
    std::map<double, int> rendered;
    for (double t : times)
        rendered[t] = renderedIndexAt(path, t);
    // The rule itself, where no rounding can blur it.
    EXPECT_EQ(rendered[0.0], 0) << "before the first frame";
    for (size_t k = 0; k + 1 < starts.size(); ++k)
        EXPECT_EQ(rendered[(starts[k] + starts[k + 1]) / 2], int(k)) << "middle of " << k;

    // The scrub player in shuffled order, so that seeks go back over key
    // frames, decode on within a GOP and hit its cache.
    ScrubPlayer scrub;
    scrub.setItem(path);
    std::vector<double> shuffled = times;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    for (double t : shuffled)
        EXPECT_EQ(shownIndexAt(scrub, scrub, t), rendered[t]) << "scrub player at " << t;
    PreviewPlayer preview(PreviewPlayer::Options{.sound = false});
    preview.setItem(path);
    for (double t : times)
        EXPECT_EQ(shownIndexAt(preview, preview, t), rendered[t]) << "preview player at " << t;

    // A segment sampled at 90 steps a second from a time before the first
    // frame: each step is the frame the players show at that step's time.
    const double start = 0.05, rate = 90;
    const auto frames = readRenderedSegment(path, start, start + 0.3, rate);
    ASSERT_EQ(frames.size(), 27u);
    for (size_t k = 0; k < frames.size(); ++k) {
        const double t = start + double(k) / rate;
        const int index = readFrameIndex(*frames[k].frame());
        EXPECT_EQ(shownIndexAt(scrub, scrub, t), index) << "step " << k;
        EXPECT_EQ(shownIndexAt(preview, preview, t), index) << "step " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, FrameAgreementTest, ::testing::Values("mkv", "ts", "mp4"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace kavlo
