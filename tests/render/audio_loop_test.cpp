// The audio loop builder on a source whose sample k holds the value k, so
// every written sample is the source position it was taken from.
#include "media/error.h"
#include "render/audio_loop.h"
#include "render/ping_pong.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kavlo {
namespace {

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
    EXPECT_EQ(layout.loop, 88200);
    EXPECT_EQ(layout.lead, 2112);
    EXPECT_EQ(layout.tail, 1984);
    EXPECT_EQ(layout.total(), 92296);
    EXPECT_EQ(audioLoopLayout(kRate, 6, 0.3).loop, 20 * kRate); // 6 frames at 0.3 fps: 20 s
    EXPECT_EQ(audioLoopLayout(8000, 2, 30.0).lead, 532);        // T = 533
    EXPECT_EQ(audioLoopLayout(1, 2, 30.0).tail, 0);             // T = 1

    std::vector<double> reports;
    const SampleTime offset = writeAudioLoop(
        positionSource(60 * kPerFrame), kSequence, 30.0, 30.0,
        [](std::span<const float>, int64_t) {}, [&](double p) { reports.push_back(p); });
    // The loop starts after the lead-in.
    EXPECT_EQ(offset.frames, 2112);
    EXPECT_EQ(offset.sampleRate, kRate);
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

} // namespace
} // namespace kavlo
