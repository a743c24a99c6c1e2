// Every form of the test corpus rendered as MP4, GIF and (with sound) WebM, from
// a start inside the first GOP and one after it: each written picture must be the
// source frame on screen at its sampling time; the MP4's sound must follow it.
#include "render/gif_timing.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "render/render_webm.h"
#include "sound_check.h"
#include "support/test_corpus.h"
#include "support/test_gif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::CorpusClip;

constexpr double kSegmentSeconds = 0.5;
// Inside the first GOP (key frames lie a second apart), and after it.
constexpr double kStarts[] = {0.4, 1.3};

// The index of the source frame on screen at `t`: the last one that starts
// no later than t (within a tenth of a millisecond, the rounding of coarse
// container clocks), or the first one before the track has begun.
int frameOnScreen(const test::DecodedVideo& source, double t) {
    int index = source.frames.front().index;
    for (const auto& frame : source.frames)
        if (frame.time <= t + 1e-4)
            index = frame.index;
    return index;
}

// The sound keeps its rate and channels. Where a clip has a chord, its
// waveform must come back at the middle of the forward run and of the
// backward run, to within the source's own clock (Matroska and WebM place
// sound to the millisecond). Otherwise the ramp's loudness must follow the
// picture. (The encoder flickers a tone's level in one channel of a pair by
// up to a third when the other differs, so the loudness is read only where
// it has a channel to itself.)
void expectSoundFollows(const fs::path& source, const fs::path& mp4, const CorpusClip& clip,
                        const test::RenderedTimeline& timeline) {
    const test::DecodedAudio original = test::decodeAudio(source), sound = test::decodeAudio(mp4);
    EXPECT_EQ(std::pair(sound.sampleRate, sound.channels),
              std::pair(original.sampleRate, original.channels));
    if (clip.chordChannel < 0)
        return test::expectSoundFollowsPicture(source, mp4, clip.rampChannel, timeline, 0.02);
    const double run = timeline.sequence.size() / 2 / (timeline.frameRate * timeline.speed);
    for (double at : {0.0, run / 2 - 0.02, 1.5 * run - 0.02}) {
        const test::SoundAlignment alignment =
            test::soundAlignmentAt(original, sound, clip.chordChannel, timeline, at, 256);
        EXPECT_LE(std::abs(alignment.lag), sound.sampleRate / 1000 + 2) << "at " << at << " s";
        EXPECT_GT(alignment.correlation, 0.9) << "at " << at << " s";
    }
}

class Corpus : public ::testing::TestWithParam<CorpusClip> {};

TEST_P(Corpus, RendersEveryFrameFromEveryStartWithTheSoundFollowing) {
    const CorpusClip& clip = GetParam();
    test::TempDir dir;
    const fs::path source = test::makeCorpusClip(dir.path(), clip);
    const test::DecodedVideo original = test::decodeVideo(source);
    ASSERT_FALSE(original.frames.empty());
    const double rate = clip.clip.framesPerSecond();
    const int frameCount = int(std::max(std::lround(kSegmentSeconds * rate), 2L));

    for (double start : kStarts) {
        SCOPED_TRACE("start " + std::to_string(start));
        std::vector<int> expected;
        for (int k = 0; k < frameCount; ++k)
            expected.push_back(frameOnScreen(original, start + k / rate));

        const fs::path mp4 = dir / "out.mp4";
        const RenderResult result =
            renderPingPongVideo(source, mp4, start, start + kSegmentSeconds, 1.0, 1, nullptr);
        ASSERT_EQ(result.sourceFrameCount, frameCount);
        EXPECT_NEAR(result.frameRate, rate, 1e-9);
        const std::vector<int> sequence = pingPongIndexSequence(frameCount, 1);
        const test::DecodedVideo video = test::decodeVideo(mp4);
        ASSERT_EQ(video.frames.size(), sequence.size());
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            ASSERT_EQ(video.frames[i].index, expected[sequence[i]]) << "position " << i;
            ASSERT_NEAR(video.frames[i].time, i / rate, 1.0 / 60000) << "position " << i;
        }
        if (clip.rampChannel >= 0)
            expectSoundFollows(source, mp4, clip, {start, rate, 1.0, sequence});

        const fs::path gif = dir / "out.gif";
        renderPingPongGIF(source, gif, start, start + kSegmentSeconds, 1.0, nullptr);
        const std::vector<test::RgbPicture> pictures = test::decodeGif(gif);
        const auto timings = gifFrameTimings(sequence.size(), 1.0 / rate);
        ASSERT_EQ(pictures.size(), timings.size());
        for (std::size_t k = 0; k < pictures.size(); ++k)
            ASSERT_EQ(pictures[k].frameIndex(), expected[sequence[timings[k].position]])
                << "picture " << k;

        // Opus takes surround in its own layout only; the sound keeps every
        // channel, its first where it was.
        if (clip.rampChannel >= 0 && start == kStarts[0]) {
            const fs::path webm = dir / "out.webm";
            renderPingPongWebM(source, webm, start, start + kSegmentSeconds, 1.0, 1, nullptr);
            const test::DecodedAudio original = test::decodeAudio(source);
            const test::DecodedAudio sound = test::decodeAudio(webm);
            EXPECT_EQ(sound.channels, original.channels);
            if (clip.chordChannel >= 0) {
                EXPECT_GT(test::soundAlignmentAt(original, sound, clip.chordChannel,
                                                 {start, rate, 1.0, sequence}, 0.0, 256)
                              .correlation,
                          0.9);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealWorld, Corpus, ::testing::ValuesIn(test::corpusClips()),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

} // namespace
} // namespace kavlo
