// The sound's way through a render: the segment read, the loop built on a
// source whose sample k holds the value k (so every written sample names its
// source position), and the loop joined to the video without encoding again.
#include "media/encoder.h"
#include "media/error.h"
#include "render/audio_loop.h"
#include "render/audio_reader.h"
#include "render/audio_writer.h"
#include "render/final_mp4.h"
#include "render/ping_pong.h"
#include "support/broken_media.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <tuple>

namespace kavlo {
namespace {

TEST(ReadSegmentAudio, StartsAtTheExactSampleAndKeepsRateAndChannels) {
    test::TempDir dir;
    const auto path = test::makeIndexedVideo(
        dir / "aac.mp4", {.audio = "0.5*sin(2*PI*(200*t+400*t*t))|0.3*sin(2*PI*700*t)"});
    const auto file = test::decodeAudio(path);
    InputFile input(path.string());
    // The very start (behind the encoder's priming), inside AAC packets, later.
    for (double start : {0.0, 0.25, 0.3107, 1.0}) {
        SCOPED_TRACE(start);
        const auto segment = readSegmentAudio(input, start, start + 0.5);
        ASSERT_TRUE(segment);
        EXPECT_EQ(segment->sampleRate, 48000);
        ASSERT_EQ(segment->channelCount, 2);
        ASSERT_EQ(segment->frameCount(), 24000);
        const int64_t first = std::llround(start * 48000);
        for (std::size_t i = 0; i < segment->samples.size(); ++i)
            ASSERT_NEAR(segment->samples[i], file.samples[first * 2 + i], 1e-4) << i;
    }
    // A range past the sound ends with it; one beyond it has none.
    EXPECT_EQ(readSegmentAudio(input, 1.8, 2.5)->frameCount(), file.frameCount() - 86400);
    EXPECT_FALSE(readSegmentAudio(input, 2.5, 3.0));
    InputFile silent(test::makeIndexedVideo(dir / "silent.mp4", {}).string());
    EXPECT_FALSE(readSegmentAudio(silent, 0.0, 1.0));
}

TEST(ReadSegmentAudio, DamagedPacketsLeaveGapsNotAFailure) {
    test::TempDir dir;
    const auto clip =
        test::makeIndexedVideo(dir / "clip.mp4", {.frames = 60, .audio = "sin(2*PI*440*t)"});
    // Among these flips the AAC decoder meets one it reports as a bare -1
    // ("Operation not permitted") rather than as invalid data.
    const auto files = test::makeBrokenFiles(dir.path(), clip, 2.0);
    const auto flipped = std::find_if(files.begin(), files.end(),
                                      [](const auto& f) { return f.name == "bit-flips"; });
    ASSERT_NE(flipped, files.end());
    InputFile input(flipped->path.string());
    const auto segment = readSegmentAudio(input, 0, 1.9);
    ASSERT_TRUE(segment);
    EXPECT_GT(segment->frameCount(), 48000);
}

constexpr int kRate = 44100;
constexpr int kPerFrame = kRate / 30; // source sample frames per video frame
// 35 frames give a 60-entry sequence: two seconds of video at 30 fps.
const std::vector<int> kSequence = pingPongIndexSequence(35, 1);

SegmentAudio positionSource(int64_t frames, int channels = 1) {
    SegmentAudio audio{kRate, channels, {}};
    for (int64_t k = 0; k < frames; ++k)
        for (int ch = 0; ch < channels; ++ch)
            audio.samples.push_back(ch % 2 ? -float(k) : float(k));
    return audio;
}

std::vector<float> build(const SegmentAudio& audio, double outputRate) {
    std::vector<float> out;
    writeAudioLoop(
        audio, kSequence, 30.0, outputRate,
        [&](std::span<const float> chunk, int64_t first) {
            EXPECT_EQ(first * audio.channelCount, int64_t(out.size()));
            out.insert(out.end(), chunk.begin(), chunk.end());
        },
        nullptr);
    return out;
}

TEST(WriteAudioLoop, LoopLeadTailAndAlignmentOffset) {
    const AudioLoopLayout layout = audioLoopLayout(kRate, 60, 30.0);
    EXPECT_EQ(std::tuple(layout.loop, layout.lead, layout.tail, layout.total()),
              std::tuple(88200, 2112, 1984, 92296));
    EXPECT_EQ(audioLoopLayout(kRate, 6, 0.3).loop, 20 * kRate); // 6 frames at 0.3 fps: 20 s
    EXPECT_EQ(audioLoopLayout(8000, 2, 30.0).lead, 532);        // T = 533
    EXPECT_EQ(audioLoopLayout(1, 2, 30.0).tail, 0);             // T = 1

    std::vector<double> reports;
    const SampleTime offset = writeAudioLoop(
        positionSource(60 * kPerFrame), kSequence, 30.0, 30.0,
        [](std::span<const float>, int64_t) {}, [&](double p) { reports.push_back(p); });
    EXPECT_EQ(std::pair(offset.frames, offset.sampleRate), std::pair(2112L, kRate))
        << "the loop starts after the lead-in";
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);
}

TEST(WriteAudioLoop, SoundSitsWhereThePictureIsAndNeverJumps) {
    for (double speed : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(speed);
        const std::vector<float> out = build(positionSource(60 * kPerFrame), 30.0 * speed);
        const AudioLoopLayout layout = audioLoopLayout(kRate, 60, 30.0 * speed);
        ASSERT_EQ(int64_t(out.size()), layout.total());
        // When frame i of the video starts, the sound is at the source frame
        // it shows.
        for (std::size_t i = 0; i < kSequence.size(); ++i)
            ASSERT_NEAR(out[layout.lead + std::llround(i * kRate / (30.0 * speed))],
                        kSequence[i] * kPerFrame, 1e-3)
                << "frame " << i;
        // Half way through the last frame the loop turns from its last
        // entry (3) back to its first (2).
        EXPECT_NEAR(out[layout.lead + layout.loop - std::llround(kRate / (60.0 * speed))],
                    2.5 * kPerFrame, speed);
        // The position moves `speed` source frames per output frame, forward
        // or backward, through every turn and the lead-in and tail joins.
        for (std::size_t m = 0; m + 1 < out.size(); ++m)
            ASSERT_NEAR(std::abs(out[m + 1] - out[m]), speed, 1e-3) << "frame " << m;
        // The lead-in is the loop's end and the tail its start.
        for (int64_t m = 1; m <= layout.lead; ++m)
            ASSERT_NEAR(out[layout.lead - m], out[layout.lead + layout.loop - m], 1e-3);
        for (int64_t m = 0; m < layout.tail; ++m)
            ASSERT_NEAR(out[layout.lead + layout.loop + m], out[layout.lead + m], 1e-3);
    }
}

TEST(WriteAudioLoop, KeepsChannelsApartAndHoldsTheLastFrameOfShortSound) {
    // Stereo sound that ends after 10 of the 35 frames.
    const std::vector<float> out = build(positionSource(10 * kPerFrame, 2), 30.0);
    for (std::size_t m = 0; m < out.size(); m += 2) {
        ASSERT_EQ(out[m + 1], -out[m]);
        ASSERT_LE(out[m], 10 * kPerFrame - 1);
    }
    // Entry 18 shows frame 20, beyond the sound.
    EXPECT_EQ(out[2 * (2112 + 18 * kPerFrame)], 10 * kPerFrame - 1);
}

TEST(WriteAudioLoop, EmptySequenceAndCancellation) {
    const SegmentAudio audio = positionSource(100);
    EXPECT_EQ(test::errorText([&] {
                  writeAudioLoop(audio, {}, 30, 30, [](std::span<const float>, int64_t) {}, {});
              }),
              "Kavlo 24 Could not build audio loop.");
    std::stop_source stop;
    int chunks = 0;
    auto sink = [&](std::span<const float>, int64_t) {
        if (++chunks == 3)
            stop.request_stop();
    };
    EXPECT_THROW(writeAudioLoop(audio, kSequence, 30.0, 30.0, sink, nullptr, stop.get_token()),
                 Cancelled);
    EXPECT_EQ(chunks, 3);
}

using test::decodeAudio;

// One second of index-coded video and `seconds` of a rising tone.
struct Inputs {
    explicit Inputs(const char* seconds) {
        test::makeIndexedVideo(video, {.frames = 30});
        test::generateMedia(
            {"-f", "lavfi", "-i",
             std::string("aevalsrc=0.5*sin(2*PI*(200*t+900*t*t)):s=48000:d=") + seconds, "-c:a",
             "aac", audio.string()});
    }
    test::TempDir dir;
    const std::filesystem::path video = dir / "video.mp4", audio = dir / "audio.m4a",
                                output = dir / "joined.mp4";
};

TEST(AssembleFinalMp4, AudioStartsAtTheOffsetAndEndsWithTheVideo) {
    const Inputs in("1.5");
    const auto reference = decodeAudio(in.audio);
    std::ofstream(in.output) << "an older file";
    // At a packet edge, inside the encoder's priming packet, inside later ones.
    for (int64_t offset : {0, 1, 1000, 2112, 3000}) {
        SCOPED_TRACE(offset);
        assembleFinalMP4(in.video, in.audio, in.output, {offset, 48000});
        const auto audio = decodeAudio(in.output);
        EXPECT_DOUBLE_EQ(audio.firstSampleSeconds, 0.0);
        EXPECT_DOUBLE_EQ(audio.trackSeconds, 1.0);
        ASSERT_GE(audio.frameCount(), 48000);
        for (int64_t m = 0; m < 48000; m += 7)
            ASSERT_NEAR(audio.at(m, 0), reference.at(offset + m, 0), 1e-4) << "sample " << m;
    }
    const auto video = test::decodeVideo(in.output);
    ASSERT_EQ(video.frames.size(), 30u);
    EXPECT_EQ(video.frames.back().index, 29);
    EXPECT_DOUBLE_EQ(video.trackSeconds, 1.0);
    EXPECT_FALSE(video.hasDisplayMatrix);
    EXPECT_TRUE(test::indexAtFront(in.output));
}

TEST(AssembleFinalMp4, ShortAudioEndsEarlyAndMissingTracksFail) {
    const Inputs in("0.5");
    assembleFinalMP4(in.video, in.audio, in.output, {1000, 48000});
    EXPECT_DOUBLE_EQ(decodeAudio(in.output).trackSeconds, 23000 / 48000.0);
    EXPECT_DOUBLE_EQ(test::decodeVideo(in.output).trackSeconds, 1.0);

    auto error = [&](const std::filesystem::path& video, const std::filesystem::path& audio,
                     int64_t offset) {
        return test::errorText([&] { assembleFinalMP4(video, audio, in.output, {offset, 48000}); });
    };
    EXPECT_EQ(error(in.audio, in.audio, 0), "Kavlo 20 Could not prepare video track.");
    EXPECT_EQ(error(in.video, in.video, 0), "Kavlo 21 Could not prepare audio track.");
    // Sound exactly as long as the offset leaves nothing to play.
    EXPECT_EQ(error(in.video, in.audio, 24000), "Kavlo 25 Could not align audio loop.");
    EXPECT_EQ(error(in.video, in.audio, 23999), "no error");
}

TEST(WriterFailures, CarryFFmpegsMessage) {
    test::TempDir dir;
    // AAC has no 1 kHz sampling rate.
    const std::string refused =
        test::errorText([&] { AacFileWriter(dir / "a.m4a", 1000, 2, 128000); });
    EXPECT_TRUE(refused.starts_with("FFmpeg ")) << refused;
    EXPECT_NE(refused.find("open aac encoder: Invalid argument"), std::string::npos) << refused;

    EncoderSettings settings = aacEncoderSettings(48000, 2, 128000);
    auto refusal = [&] { return test::errorText([&] { Encoder{settings}; }); };
    settings.options["no-such-option"] = "1";
    EXPECT_NE(refusal().find("\"no-such-option\""), std::string::npos);
    settings = aacEncoderSettings(48000, 2, 128000);
    settings.codec = "no-such-codec";
    EXPECT_NE(refusal().find("find no-such-codec encoder: Encoder not found"), std::string::npos);
}

} // namespace
} // namespace kavlo
