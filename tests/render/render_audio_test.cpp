// Renders of sources whose sound tells where it comes from: the left channel
// a 1 kHz tone rising with source time, the right a chord that pins the
// alignment to the sample; then sound the AAC encoder cannot take as it is.
#include "media/error.h"
#include "render/ping_pong.h"
#include "render/render_video.h"
#include "sound_check.h"
#include "support/test_corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::decodeAudio;
using test::DecodedAudio;
using test::expectSoundFollowsPicture;
using test::toneAmplitude;

constexpr double kStart = 0.5; // the segment: frames 15...44 of a 30 fps source
constexpr double kEnd = 1.5;
// 0.1 at the segment's start, 0.7 at its end: 0.02 a frame.
constexpr const char* kRamp = "(0.6*t-0.2)*sin(2*PI*1000*t)";

fs::path makeSource(const fs::path& path, const std::string& audio, double audioSeconds = 0) {
    return test::makeIndexedVideo(path, {.audio = audio, .audioSeconds = audioSeconds});
}

test::RenderedTimeline timeline(double speed, int loops) {
    return {kStart, 30.0, speed, pingPongIndexSequence(30, loops)};
}

TEST(RenderWithSound, FollowsThePictureForwardAndBackwardAtEverySpeedAndFallsSilentWhereItEnds) {
    test::TempDir dir;
    const auto source = makeSource(dir / "stereo.mp4", std::string(kRamp) + "|" + test::kChord);
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

        // The turns are continuous: no step larger than the source's own.
        for (double turn = 25; turn < 50 * loops; turn += 25) {
            const auto at = std::llround(turn / (30 * speed) * 48000);
            for (auto m = at - 512; m < at + 512; ++m)
                ASSERT_LE(std::abs(audio.at(m + 1, 0) - audio.at(m, 0)), 1.2 * speed * sourceJump)
                    << "click at frame " << m;
        }
    }

    // Sound that ends inside the segment.
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
    EXPECT_EQ(std::pair(result.sourceFrameCount, result.frameRate), std::pair(3, 1.0));
    const test::DecodedVideo video = test::decodeVideo(dir / "out.mp4");
    EXPECT_EQ(test::frameIndices(video), (std::vector{1, 1, 2, 1}));
    for (std::size_t i = 0; i < video.frames.size(); ++i)
        EXPECT_NEAR(video.frames[i].time, double(i), 1e-4) << i;
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

    // A failure while the audio is written.
    auto failAt = [](double p) {
        if (p > 0.85)
            throw std::runtime_error("injected");
    };
    EXPECT_THROW(renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1, 1, failAt),
                 std::runtime_error);
    EXPECT_TRUE(temporaries().empty());
    // Cancelled while the picture is written, while the sound is too (on its own
    // thread, once the segment is read) and while its progress is passed on.
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

constexpr double kShortEnd = 1.0; // from kStart: 15 frames of a 30 fps source

std::string tone(int hz, double amplitude = 0.2) {
    return std::to_string(amplitude) + "*sin(2*PI*" + std::to_string(hz) + "*t)";
}

TEST(RenderSoundFormats, RatesTheEncoderRefusesAreResampledTo48000) {
    test::TempDir dir;
    for (int rate : {192000, 37800}) {
        SCOPED_TRACE(rate);
        const fs::path source = test::makeIndexedVideo(
            dir / "rate.mov", {.audio = std::string(test::kChord) + "|" + tone(1000),
                               .sampleRate = rate,
                               .audioCodec = "pcm_s24le"});
        const fs::path output = dir / "out.mp4";
        const RenderResult result =
            renderPingPongVideo(source, output, kStart, kShortEnd, 1, 1, {});
        const DecodedAudio sound = decodeAudio(output);
        EXPECT_EQ(std::pair(sound.sampleRate, sound.channels), std::pair(48000, 2));
        const test::RenderedTimeline timeline{kStart, 30, 1,
                                              pingPongIndexSequence(result.sourceFrameCount, 1)};
        const test::SoundAlignment alignment =
            test::soundAlignmentAt(decodeAudio(source), sound, 0, timeline, 0.0, 64);
        EXPECT_LE(std::abs(alignment.lag), 2);
        EXPECT_GT(alignment.correlation, 0.95);
    }
}

TEST(RenderSoundFormats, MoreThanEightChannelsAreMixedDownToStereo) {
    test::TempDir dir;
    // Ten channels of no known layout, each with a tone of its own.
    std::string channels;
    for (int ch = 0; ch < 10; ++ch)
        channels.append(ch ? "|" : "").append(tone(300 + 100 * ch, 0.5));
    const fs::path source =
        test::makeIndexedVideo(dir / "ten.mkv", {.audio = channels, .audioCodec = "pcm_s16le"});
    renderPingPongVideo(source, dir / "out.mp4", kStart, kShortEnd, 1, 1, {});
    const DecodedAudio sound = decodeAudio(dir / "out.mp4");
    ASSERT_EQ(sound.channels, 2);
    // Every channel reaches both sides, equally and without clipping.
    for (int ch = 0; ch < 10; ++ch)
        for (int side = 0; side < 2; ++side)
            EXPECT_NEAR(toneAmplitude(sound, side, 0.25, 0.2, 300 + 100 * ch), 0.05, 0.01)
                << "channel " << ch << " on side " << side;
}

TEST(RenderSoundFormats, KeepsTheSourcesLayout) {
    // Three channels are a centre, not a subwoofer, four a square, not a
    // centre and a back, and 5.1 keeps its channels where they were.
    test::TempDir dir;
    for (const auto& [layout, tones] :
         {std::pair{"3.0", std::vector{400, 700, 1000}},
          std::pair{"quad", std::vector{400, 700, 1000, 1300}},
          std::pair{"5.1", std::vector{500, 700, 1000, 60, 1300, 1700}}}) {
        SCOPED_TRACE(layout);
        std::string channels;
        for (int hz : tones)
            channels.append(channels.empty() ? "" : "|").append(tone(hz));
        const fs::path source =
            test::makeIndexedVideo(dir / "layout.mp4", {.audio = channels + ":c=" + layout});
        renderPingPongVideo(source, dir / "out.mp4", kStart, kShortEnd, 1, 1, {});
        const DecodedAudio sound = decodeAudio(dir / "out.mp4");
        EXPECT_EQ(sound.layout, layout);
        ASSERT_EQ(sound.channels, int(tones.size()));
        for (std::size_t ch = 0; ch < tones.size(); ++ch)
            for (int other : tones)
                EXPECT_TRUE(other == tones[ch] ||
                            toneAmplitude(sound, int(ch), 0.25, 0.2, tones[ch]) >
                                3 * toneAmplitude(sound, int(ch), 0.25, 0.2, other))
                    << "channel " << ch << " carries " << other << " Hz";
    }
}

TEST(RenderSoundFormats, ADecodedFormatOtherThanTheHeadersIsConverted) {
    // A recorder's stream that switches from 44.1 kHz mono to 48 kHz stereo
    // after a second: the header (and so the output) says 44.1 kHz mono.
    test::TempDir dir;
    const fs::path picture = test::makeIndexedVideo(dir / "picture.mp4", {.keyframeInterval = 30});
    const auto part = [&](const std::string& name, double from, const std::string& sound,
                          int rate) {
        test::runFfmpeg({"-ss", std::to_string(from), "-t", "1", "-i", picture.string(), "-f",
                         "lavfi", "-i", "aevalsrc=" + sound + ":s=" + std::to_string(rate) + ":d=1",
                         "-c:v", "libx264", "-preset", "ultrafast", "-crf", "10", "-c:a", "aac",
                         (dir / name).string()});
        return "file '" + (dir / name).string() + "'\n";
    };
    std::ofstream(dir / "parts.txt") << part("one.ts", 0, tone(500), 44100)
                                     << part("two.ts", 1, tone(1000) + "|" + tone(1000), 48000);
    // One sound frame per PES packet, each with its own time, as recorders
    // write them.
    const fs::path source = dir / "switching.ts";
    test::runFfmpeg({"-f", "concat", "-safe", "0", "-i", (dir / "parts.txt").string(), "-c", "copy",
                     "-pes_payload_size", "0", source.string()});

    renderPingPongVideo(source, dir / "out.mp4", 1.2, 1.7, 1, 1, {});
    const DecodedAudio sound = decodeAudio(dir / "out.mp4");
    EXPECT_EQ(sound.sampleRate, 44100);
    ASSERT_EQ(sound.channels, 1);
    // Played at the header's rate unconverted, 1 kHz would sound at 919 Hz.
    EXPECT_GT(toneAmplitude(sound, 0, 0.25, 0.2, 1000), 0.15);
    EXPECT_LT(toneAmplitude(sound, 0, 0.25, 0.2, 1000 * 44100.0 / 48000), 0.02);
}

} // namespace
} // namespace kavlo
