// Sound the AAC encoder cannot take as it is: rates outside its table, more
// than eight channels, layouts it would otherwise mislabel, and streams
// whose decoded format is not the one their header states.
#include "render/ping_pong.h"
#include "render/render_video.h"
#include "sound_check.h"
#include "support/test_corpus.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::decodeAudio;
using test::DecodedAudio;
using test::toneAmplitude;

constexpr double kStart = 0.5, kEnd = 1.0; // 15 frames of a 30 fps source

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
        const RenderResult result = renderPingPongVideo(source, output, kStart, kEnd, 1, 1, {});
        const DecodedAudio sound = decodeAudio(output);
        EXPECT_EQ(sound.sampleRate, 48000);
        EXPECT_EQ(sound.channels, 2);
        // The chord comes back in place, to the output's sample.
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
        channels += (ch ? "|" : "") + tone(300 + 100 * ch, 0.5);
    const fs::path source =
        test::makeIndexedVideo(dir / "ten.mkv", {.audio = channels, .audioCodec = "pcm_s16le"});
    renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1, 1, {});
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
            channels += (channels.empty() ? "" : "|") + tone(hz);
        const fs::path source =
            test::makeIndexedVideo(dir / "layout.mp4", {.audio = channels + ":c=" + layout});
        renderPingPongVideo(source, dir / "out.mp4", kStart, kEnd, 1, 1, {});
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
