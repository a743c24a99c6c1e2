// End-to-end renders of sources with sound. The sound is made to tell where
// it comes from: in the left channel a 1 kHz tone whose amplitude rises
// linearly with source time, so its loudness reads back as a source
// position; in the right channel a chord of unrelated tones, whose waveform
// pins the alignment down to the sample.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_video.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::decodeAudio;
using test::DecodedAudio;
using test::DecodedVideo;
using test::TempDir;
using test::toneAmplitude;

constexpr double kStart = 0.5; // the segment: frames 15...44 of a 30 fps source
constexpr double kEnd = 1.5;
// Loudness is read over 40 ms of output: AAC moves a tone's level a little
// from one 1024-sample frame to the next, and a longer look averages that out.
constexpr double kWindow = 0.04;
// 0.1 at the segment's start, 0.7 at its end: 0.02 a frame.
constexpr const char* kLoudnessRamp = "(0.6*t-0.2)*sin(2*PI*1000*t)";
constexpr const char* kChord = "0.1*(sin(2*PI*311*t)+sin(2*PI*487*t)+sin(2*PI*743*t)+"
                               "sin(2*PI*1093*t)+sin(2*PI*1597*t))";

// The source times of the frame the picture shows at `outputSeconds` and of
// the frame after it: the sound moves between the two.
std::pair<double, double> shownSourceSeconds(const DecodedVideo& video, double outputSeconds) {
    std::size_t i = 0;
    while (i + 1 < video.frames.size() && video.frames[i + 1].time <= outputSeconds + 1e-6)
        ++i;
    const int a = video.frames[i].index;
    const int b = video.frames[std::min(i + 1, video.frames.size() - 1)].index;
    return {std::min(a, b) / 30.0, std::max(a, b) / 30.0};
}

// At a dozen output times the loudness ramp heard in `channel` must be the
// source's own loudness somewhere between the two frames the picture shows,
// or silence where the picture shows frames after `soundEnd` seconds.
void expectSoundFollowsPicture(const fs::path& source, const fs::path& output, int channel,
                               double speed, double tolerance, double soundEnd = 1e9) {
    const DecodedAudio original = decodeAudio(source);
    const DecodedVideo video = test::decodeVideo(output);
    const DecodedAudio audio = decodeAudio(output);
    ASSERT_FALSE(video.frames.empty());
    EXPECT_DOUBLE_EQ(audio.firstSampleSeconds, 0.0);
    EXPECT_NEAR(audio.trackSeconds, video.trackSeconds, 1.0 / audio.sampleRate);
    for (int j = 0; j < 12; ++j) {
        const double t = (j + 0.5) / 12 * video.trackSeconds;
        const auto [low, high] = shownSourceSeconds(video, t);
        const double heard = toneAmplitude(audio, channel, t, kWindow, 1000 * speed);
        if (low > soundEnd + 0.05) {
            EXPECT_LT(heard, 0.01) << "at " << t << " s";
        }
        if (high > soundEnd - 0.05)
            continue;
        // kWindow of output holds kWindow * speed of source.
        double quietest = 1, loudest = 0;
        for (int step = 0; step <= 4; ++step) {
            const double amplitude = toneAmplitude(original, channel, low + (high - low) * step / 4,
                                                   kWindow * speed, 1000);
            quietest = std::min(quietest, amplitude);
            loudest = std::max(loudest, amplitude);
        }
        EXPECT_GE(heard, quietest - tolerance) << "at " << t << " s";
        EXPECT_LE(heard, loudest + tolerance) << "at " << t << " s";
    }
}

// Best alignment of `audio` against `expected` over 1024 frames from
// `first`: lag in frames (positive: the output is late) and correlation.
std::pair<int, double> bestLag(const DecodedAudio& audio, int channel,
                               const std::vector<float>& expected, int64_t first) {
    std::pair<int, double> best{0, -1};
    for (int lag = -64; lag <= 64; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (int64_t m = std::max<int64_t>(first, -lag); m < first + 1024; ++m) {
            const double x = audio.at(m + lag, channel), y = expected[m];
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double c = xy / std::sqrt(xx * yy);
        if (c > best.second)
            best = {lag, c};
    }
    return best;
}

// Renders with sound. Every render of a source with sound goes through the
// temporary files.
class RenderAudio : public ::testing::Test {
  protected:
    fs::path makeSource(const std::string& name, const std::string& audio, int sampleRate = 48000,
                        double audioSeconds = 0) {
        test::VideoSpec spec;
        spec.audio = audio;
        spec.sampleRate = sampleRate;
        spec.audioSeconds = audioSeconds;
        return test::makeIndexedVideo(dir_ / name, spec);
    }
    TempDir dir_;
};

TEST_F(RenderAudio, SoundFollowsThePictureForwardAndBackwardAtEverySpeed) {
    const auto source = makeSource("stereo.mp4", std::string(kLoudnessRamp) + "|" + kChord);
    const DecodedAudio original = decodeAudio(source);
    double sourceJump = 0; // the largest sample-to-sample step in the segment
    for (int64_t k = std::llround(kStart * 48000); k < std::llround(kEnd * 48000); ++k)
        sourceJump =
            std::max(sourceJump, double(std::abs(original.at(k + 1, 0) - original.at(k, 0))));

    for (double speed : {0.5, 1.0, 2.0}) {
        for (int loops : {1, 3}) {
            SCOPED_TRACE("speed " + std::to_string(speed) + ", loops " + std::to_string(loops));
            const auto output = dir_ / "out.mp4";
            renderPingPongVideo(source, output, kStart, kEnd, speed, loops, nullptr);
            expectSoundFollowsPicture(source, output, 0, speed, 0.015);

            // The chord as the picture's sequence says it should sound:
            // linear between frames, played back from the source.
            const DecodedAudio audio = decodeAudio(output);
            const std::vector<int> sequence = pingPongIndexSequence(30, loops);
            const double rate = 30 * speed, n = double(sequence.size());
            std::vector<float> expected(std::size_t(audio.frameCount()));
            for (std::size_t m = 0; m < expected.size(); ++m) {
                const double x = std::fmod(m * rate / 48000, n);
                const int i0 = int(x), i1 = (i0 + 1) % int(n);
                const double s = sequence[i0] + (x - i0) * (sequence[i1] - sequence[i0]);
                const double k = (kStart + s / 30) * 48000;
                const auto k0 = int64_t(k);
                expected[m] = float(original.at(k0, 1) +
                                    (k - k0) * (original.at(k0 + 1, 1) - original.at(k0, 1)));
            }
            // At output time 0, at every turn of the picture, and at the end.
            std::vector<int64_t> windows = {0, audio.frameCount() - 1100};
            for (double turn = 25; turn < n; turn += 25)
                windows.push_back(std::llround(turn / rate * 48000) - 512);
            for (int64_t first : windows) {
                // AAC's noise is loudest right at a turn and can move the
                // best match by a sample or two there; a misplaced cut or
                // priming shifts it by hundreds.
                const auto [lag, correlation] = bestLag(audio, 1, expected, first);
                EXPECT_LE(std::abs(lag), 3) << "window at " << first;
                EXPECT_GT(correlation, 0.9) << "window at " << first;
                // Turns are continuous: no step larger than the source's own
                // at this speed.
                for (int64_t m = first; m < first + 1024; ++m)
                    ASSERT_LE(std::abs(audio.at(m + 1, 0) - audio.at(m, 0)),
                              1.2 * speed * sourceJump)
                        << "click at frame " << m;
            }
        }
    }
}

TEST_F(RenderAudio, MonoAndSurroundSourcesKeepTheirRateAndChannels) {
    const auto mono = makeSource("mono.mp4", kLoudnessRamp, 44100);
    renderPingPongVideo(mono, dir_ / "mono-out.mp4", kStart, kEnd, 1.0, 1, nullptr);
    const DecodedAudio monoOut = decodeAudio(dir_ / "mono-out.mp4");
    EXPECT_EQ(monoOut.sampleRate, 44100);
    EXPECT_EQ(monoOut.channels, 1);
    expectSoundFollowsPicture(mono, dir_ / "mono-out.mp4", 0, 1.0, 0.005);

    // 5.1: each channel carries its own tone; the centre carries the ramp.
    const double tones[] = {500, 700, 1000, 60, 1300, 1700};
    std::string channels;
    for (double hz : tones)
        channels += (channels.empty() ? "" : "|") +
                    (hz == 1000 ? std::string(kLoudnessRamp)
                                : "0.3*sin(2*PI*" + std::to_string(int(hz)) + "*t)");
    const auto surround = makeSource("surround.mp4", channels);
    renderPingPongVideo(surround, dir_ / "surround-out.mp4", kStart, kEnd, 1.0, 1, nullptr);
    const DecodedAudio out = decodeAudio(dir_ / "surround-out.mp4");
    EXPECT_EQ(out.sampleRate, 48000);
    ASSERT_EQ(out.channels, 6);
    for (int ch = 0; ch < 6; ++ch)
        for (int other = 0; other < 6; ++other)
            if (other != ch) {
                EXPECT_GT(toneAmplitude(out, ch, 0.4, 0.2, tones[ch]),
                          3 * toneAmplitude(out, ch, 0.4, 0.2, tones[other]))
                    << "channel " << ch << " against the tone of " << other;
            }
    // Six channels share 128000 bit/s, so levels come out less exact.
    expectSoundFollowsPicture(surround, dir_ / "surround-out.mp4", 2, 1.0, 0.03);
}

TEST_F(RenderAudio, SoundEndingInsideTheSegmentFallsSilentWhereItEnds) {
    // Sound for the first 1.1 s only; the segment runs to 1.5 s.
    const auto source = makeSource("short-sound.mp4", kLoudnessRamp, 48000, 1.1);
    renderPingPongVideo(source, dir_ / "out.mp4", kStart, kEnd, 1.0, 1, nullptr);
    expectSoundFollowsPicture(source, dir_ / "out.mp4", 0, 1.0, 0.01, 1.1);
}

// Points the temporary directory at a directory of the test's own.
class RenderAudioTemporaryFiles : public RenderAudio {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR"))
            oldTmp_ = old;
        setenv("TMPDIR", tmp_.path().c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp_)
            setenv("TMPDIR", oldTmp_->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // The renderer's intermediates now in the temporary directory.
    std::vector<std::string> intermediates() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(tmp_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir tmp_;
    std::optional<std::string> oldTmp_;
};

TEST_F(RenderAudioTemporaryFiles, AreGoneAfterSuccessFailureAndCancellation) {
    const auto source = makeSource("stereo.mp4", std::string(kLoudnessRamp) + "|" + kChord);
    std::vector<double> reports;
    std::vector<std::string> seen;
    renderPingPongVideo(source, dir_ / "out.mp4", kStart, kEnd, 1.0, 1, [&](double p) {
        if (reports.empty() || reports.back() <= 0.80)
            if (p > 0.80)
                seen = intermediates();
        reports.push_back(p);
    });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].starts_with("kavlo-audio-") && seen[0].ends_with(".m4a")) << seen[0];
    EXPECT_TRUE(seen[1].starts_with("kavlo-video-") && seen[1].ends_with(".mp4")) << seen[1];
    EXPECT_EQ(seen[0].size(), std::string("kavlo-audio-.m4a").size() + 36);
    EXPECT_TRUE(intermediates().empty());
    // Reading to 0.35, the video to 0.80, the audio to 0.95, then done.
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    for (double step : {0.35, 0.80, 0.95})
        EXPECT_NE(std::find_if(reports.begin(), reports.end(),
                               [&](double p) { return std::abs(p - step) < 1e-9; }),
                  reports.end())
            << step;
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);

    // A failure while the audio is written, one while the file is joined
    // (its directory does not exist), and a cancellation.
    EXPECT_THROW(renderPingPongVideo(source, dir_ / "out.mp4", kStart, kEnd, 1.0, 1,
                                     [](double p) {
                                         if (p > 0.85)
                                             throw std::runtime_error("injected");
                                     }),
                 std::runtime_error);
    EXPECT_TRUE(intermediates().empty());
    EXPECT_THROW(
        renderPingPongVideo(source, dir_ / "missing" / "out.mp4", kStart, kEnd, 1.0, 1, nullptr),
        Error);
    EXPECT_TRUE(intermediates().empty());
    std::stop_source stop;
    EXPECT_THROW(renderPingPongVideo(
                     source, dir_ / "out.mp4", kStart, kEnd, 1.0, 1,
                     [&](double p) {
                         if (p > 0.85)
                             stop.request_stop();
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_TRUE(intermediates().empty());

    // Without sound nothing temporary is made.
    const auto silent = test::makeIndexedVideo(dir_ / "silent.mp4", {});
    bool sawAny = false;
    renderPingPongVideo(silent, dir_ / "silent-out.mp4", kStart, kEnd, 1.0, 1,
                        [&](double) { sawAny = sawAny || !intermediates().empty(); });
    EXPECT_FALSE(sawAny);
    EXPECT_THROW(decodeAudio(dir_ / "silent-out.mp4"), std::runtime_error);
}

} // namespace
} // namespace kavlo
