// End-to-end renders of sources with sound that tells where it comes from:
// the left channel is a 1 kHz tone whose amplitude rises with source time,
// so its loudness reads back as a source position; the right channel is a
// chord of unrelated tones, whose waveform pins alignment to the sample.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_video.h"
#include "sound_check.h"
#include "support/test_corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::decodeAudio;
using test::DecodedAudio;
using test::expectSoundFollowsPicture;
using test::kChord;
using test::toneAmplitude;

constexpr double kStart = 0.5; // the segment: frames 15...44 of a 30 fps source
constexpr double kEnd = 1.5;
// 0.1 at the segment's start, 0.7 at its end: 0.02 a frame.
constexpr const char* kRamp = "(0.6*t-0.2)*sin(2*PI*1000*t)";

fs::path makeSource(const fs::path& path, const std::string& audio, double audioSeconds = 0) {
    return test::makeIndexedVideo(path, {.audio = audio, .audioSeconds = audioSeconds});
}

// The segment kStart...kEnd of a 30 fps source: 30 frames.
test::RenderedTimeline timeline(double speed, int loops) {
    return {kStart, 30.0, speed, pingPongIndexSequence(30, loops)};
}

TEST(RenderWithSound, FollowsThePictureForwardAndBackwardAtEverySpeed) {
    test::TempDir dir;
    const auto source = makeSource(dir / "stereo.mp4", std::string(kRamp) + "|" + kChord);
    const DecodedAudio original = decodeAudio(source);
    double sourceJump = 0; // the largest sample-to-sample step of the segment
    for (auto k = std::llround(kStart * 48000); k < std::llround(kEnd * 48000); ++k)
        sourceJump =
            std::max<double>(sourceJump, std::abs(original.at(k + 1, 0) - original.at(k, 0)));

    // At speed 5 the picture is written at 60 of its 150 frames a second.
    for (const auto& [speed, loops] : {std::pair{1.0, 3}, std::pair{0.5, 1}, std::pair{5.0, 3}}) {
        SCOPED_TRACE("speed " + std::to_string(speed) + ", loops " + std::to_string(loops));
        const auto output = dir / "out.mp4";
        renderPingPongVideo(source, output, kStart, kEnd, speed, loops, nullptr);
        expectSoundFollowsPicture(source, output, 0, timeline(speed, loops), 0.015);
        const DecodedAudio audio = decodeAudio(output);

        // Output time 0 is the loop's first sample: the forward run plays
        // the chord from the first frame shown (17) on, at `speed`.
        const test::SoundAlignment alignment =
            test::soundAlignmentAt(original, audio, 1, timeline(speed, loops), 0.0, 64);
        EXPECT_LE(std::abs(alignment.lag), 2);
        EXPECT_GT(alignment.correlation, 0.95);

        // The turns are continuous: no step larger than the source's own
        // at this speed.
        for (double turn = 25; turn < 50 * loops; turn += 25) {
            const auto at = std::llround(turn / (30 * speed) * 48000);
            for (auto m = at - 512; m < at + 512; ++m)
                ASSERT_LE(std::abs(audio.at(m + 1, 0) - audio.at(m, 0)), 1.2 * speed * sourceJump)
                    << "click at frame " << m;
        }
    }
}

TEST(RenderWithSound, SoundEndingInsideTheSegmentFallsSilent) {
    test::TempDir dir;
    // Sound for the first 1.1 s only; the segment runs to 1.5 s.
    const auto early = makeSource(dir / "early.mp4", kRamp, 1.1);
    renderPingPongVideo(early, dir / "early-out.mp4", kStart, kEnd, 1.0, 1, nullptr);
    expectSoundFollowsPicture(early, dir / "early-out.mp4", 0, timeline(1, 1), 0.01, 1.1);
}

TEST(RenderWithSound, SlowTracksAndSlowSpeedsKeepTheirTimeAndSound) {
    // A frame every two seconds, frames 0...5, and a slow ramp (0.1 at 0 s,
    // 0.7 at 12 s). The segment 2...5 s is sampled once a second: source
    // frames 1, 1, 2, written a second apart, with the sound of those times.
    test::TempDir dir;
    const auto source = test::makeIndexedVideo(
        dir / "slow.mp4", {.rate = "1/2", .frames = 6, .audio = "(0.1+0.05*t)*sin(2*PI*1000*t)"});
    const RenderResult result = renderPingPongVideo(source, dir / "out.mp4", 2, 5, 1, 1, nullptr);
    EXPECT_EQ(result.sourceFrameCount, 3);
    EXPECT_EQ(result.frameRate, 1.0);
    const test::DecodedVideo video = test::decodeVideo(dir / "out.mp4");
    ASSERT_EQ(video.frames.size(), 4u);
    const int shown[] = {1, 1, 2, 1};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(video.frames[i].index, shown[i]) << i;
        EXPECT_NEAR(video.frames[i].time, double(i), 1e-4) << i;
    }
    expectSoundFollowsPicture(source, dir / "out.mp4", 0,
                              {2.0, 1.0, 1.0, pingPongIndexSequence(3, 1)}, 0.01);

    // Three frames at speed 0.02: 0.6 frames a second, 4 positions, 6.7 s,
    // and the sound as long.
    const auto ramp = makeSource(dir / "ramp.mp4", kRamp);
    renderPingPongVideo(ramp, dir / "slow.mp4", kStart, kStart + 0.1, 0.02, 1, nullptr);
    const test::DecodedVideo slow = test::decodeVideo(dir / "slow.mp4");
    ASSERT_EQ(slow.frames.size(), 4u);
    EXPECT_NEAR(slow.trackSeconds, 4 / 0.6, 1e-3);
    const DecodedAudio sound = decodeAudio(dir / "slow.mp4");
    EXPECT_NEAR(sound.trackSeconds, slow.trackSeconds, 1.0 / sound.sampleRate);
}

TEST(RenderWithSound, TemporaryFilesAreGoneAfterSuccessFailureAndCancellation) {
    test::TempDir dir, tmp;
    const auto source = makeSource(dir / "stereo.mp4", kRamp);
    // The renderer's temporary directory is ours for the test.
    struct TmpDirGuard {
        explicit TmpDirGuard(const fs::path& path) {
            if (const char* old = std::getenv("TMPDIR"))
                old_ = old;
            setenv("TMPDIR", path.c_str(), 1);
        }
        ~TmpDirGuard() { old_ ? setenv("TMPDIR", old_->c_str(), 1) : unsetenv("TMPDIR"); }
        std::optional<std::string> old_;
    } guard(tmp.path());
    auto temporaries = [&] { return test::fileNamesIn(tmp.path()); };
    std::vector<double> reports;
    std::vector<std::string> seen;
    renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1.0, 1, [&](double p) {
        if (p > 0.8 && seen.empty())
            seen = temporaries();
        reports.push_back(p);
    });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].starts_with("kavlo-audio-") && seen[0].ends_with(".m4a")) << seen[0];
    EXPECT_TRUE(seen[1].starts_with("kavlo-video-") && seen[1].ends_with(".mp4")) << seen[1];
    EXPECT_EQ(seen[1].size(), std::string("kavlo-video-.mp4").size() + 36);
    EXPECT_TRUE(temporaries().empty());
    // The video ends at 0.80, the audio at 0.95.
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    for (double step : {0.80, 0.95, 1.0})
        EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [&](double p) {
            return std::abs(p - step) < 1e-9;
        })) << step;

    // A failure while the audio is written, one while the file is joined
    // (its directory does not exist), and a cancellation.
    auto failAt = [](double p) {
        if (p > 0.85)
            throw std::runtime_error("injected");
    };
    EXPECT_THROW(renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1, 1, failAt),
                 std::runtime_error);
    EXPECT_TRUE(temporaries().empty());
    EXPECT_THROW(renderPingPongVideo(source, dir / "no" / "out.mp4", kStart, kEnd, 1, 1, nullptr),
                 Error);
    EXPECT_TRUE(temporaries().empty());
    // Cancellations while the picture is written, while the sound is too
    // (on its own thread, once the segment is read) and while the sound's
    // progress is passed on: each stays a cancellation.
    for (double at : {0.3, 0.6, 0.7, 0.85}) {
        SCOPED_TRACE(at);
        std::stop_source stop;
        auto cancelAt = [&](double p) {
            if (p > at)
                stop.request_stop();
        };
        EXPECT_THROW(renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1, 1, cancelAt,
                                         stop.get_token()),
                     Cancelled);
        EXPECT_TRUE(temporaries().empty());
    }

    // Without sound nothing temporary is made.
    const auto silent = test::makeIndexedVideo(dir / "silent.mp4", {});
    bool sawAny = false;
    renderPingPongVideo(silent, dir / "silent-out.mp4", kStart, kEnd, 1, 1,
                        [&](double) { sawAny = sawAny || !temporaries().empty(); });
    EXPECT_FALSE(sawAny);
    EXPECT_THROW(decodeAudio(dir / "silent-out.mp4"), std::runtime_error);
}

} // namespace
} // namespace kavlo
