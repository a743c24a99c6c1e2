// The audio loop builder on synthetic sources, sample by sample. In a
// "position source" sample k holds the value k, so every written sample is
// the source position it was taken from.
#include "media/error.h"
#include "render/audio_loop.h"
#include "render/ping_pong.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kavlo {
namespace {

SegmentAudio positionSource(int rate, int64_t frames, int channels = 1) {
    SegmentAudio audio{rate, channels, {}};
    for (int64_t k = 0; k < frames; ++k)
        for (int ch = 0; ch < channels; ++ch)
            audio.samples.push_back(ch % 2 ? -float(k) : float(k));
    return audio;
}

struct Written {
    std::vector<float> samples;
    std::vector<std::pair<int64_t, std::size_t>> chunks; // first frame, frame count
    SampleTime offset;
};

Written build(const SegmentAudio& audio, const std::vector<int>& sequence, double outputRate,
              const ProgressCallback& progress = nullptr) {
    Written w;
    w.offset = writeAudioLoop(
        audio, sequence, 30.0, outputRate,
        [&](std::span<const float> chunk, int64_t first) {
            w.chunks.emplace_back(first, chunk.size() / audio.channelCount);
            w.samples.insert(w.samples.end(), chunk.begin(), chunk.end());
        },
        progress);
    return w;
}

// 35 frames give a 60-entry sequence: two seconds of video at 30 fps.
const std::vector<int> kSequence = pingPongIndexSequence(35, 1);
constexpr int kRate = 44100;
constexpr int kPerFrame = kRate / 30; // source sample frames per video frame

TEST(AudioLoopLayout, LoopLeadAndTailOfATwoSecondSegment) {
    ASSERT_EQ(kSequence.size(), 60u);
    const AudioLoopLayout layout = audioLoopLayout(kRate, 60, 30.0);
    EXPECT_EQ(layout.loop, 88200);
    EXPECT_EQ(layout.lead, 2112);
    EXPECT_EQ(layout.tail, 1984);
    EXPECT_EQ(layout.total(), 92296);
    EXPECT_EQ(audioLoopLayout(kRate, 60, 60.0).loop, 44100);
    // Output rates below one frame per second count as one.
    EXPECT_EQ(audioLoopLayout(kRate, 6, 0.3).loop, 6 * kRate);
    // Short loops keep at least one frame and a lead-in shorter than the loop.
    const AudioLoopLayout tiny = audioLoopLayout(8000, 2, 30.0);
    EXPECT_EQ(tiny.loop, 533);
    EXPECT_EQ(tiny.lead, 532);
    const AudioLoopLayout single = audioLoopLayout(1, 2, 30.0);
    EXPECT_EQ(single.loop, 1);
    EXPECT_EQ(single.lead, 0);
    EXPECT_EQ(single.tail, 0);
}

TEST(WriteAudioLoop, WritesFixedChunksAndReturnsTheLoopStart) {
    std::vector<double> reports;
    const Written w = build(positionSource(kRate, 60 * kPerFrame), kSequence, 30.0,
                            [&](double p) { reports.push_back(p); });
    ASSERT_EQ(w.chunks.size(), 23u);
    for (std::size_t i = 0; i < 22; ++i)
        EXPECT_EQ(w.chunks[i], std::make_pair(int64_t(i) * 4096, std::size_t(4096)));
    EXPECT_EQ(w.chunks.back().second, 2184u);
    EXPECT_EQ(w.samples.size(), 92296u);
    EXPECT_EQ(w.offset.frames, 2112);
    EXPECT_EQ(w.offset.sampleRate, kRate);
    ASSERT_EQ(reports.size(), 23u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_DOUBLE_EQ(reports.back(), 1.0);
}

TEST(WriteAudioLoop, SoundSitsWhereThePictureIsAndNeverJumps) {
    for (double speed : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(speed);
        const Written w = build(positionSource(kRate, 60 * kPerFrame), kSequence, 30.0 * speed);
        const AudioLoopLayout layout = audioLoopLayout(kRate, 60, 30.0 * speed);
        const auto& out = w.samples;
        // At the moment frame i of the video starts, the sound is at the
        // source frame it shows.
        for (std::size_t i = 0; i < kSequence.size(); ++i) {
            const auto u = std::llround(i * kRate / (30.0 * speed));
            ASSERT_NEAR(out[layout.lead + u], kSequence[i] * kPerFrame, 1e-3) << "frame " << i;
        }
        // Half way through the last frame the loop turns from its last
        // entry (3) back to its first (2).
        const auto half = std::llround(0.5 * kRate / (30.0 * speed));
        EXPECT_NEAR(out[layout.lead + layout.loop - half], 2.5 * kPerFrame, speed);
        // The position moves by `speed` source frames per output frame
        // everywhere, through the turns and the lead-in and tail joins.
        for (std::size_t m = 0; m + 1 < out.size(); ++m)
            ASSERT_NEAR(std::abs(out[m + 1] - out[m]), speed, 1e-3) << "frame " << m;
        // The lead-in is the loop's end, the tail its start.
        for (int64_t m = 1; m <= layout.lead; ++m)
            ASSERT_NEAR(out[layout.lead - m], out[layout.lead + layout.loop - m], 1e-3);
        for (int64_t m = 0; m < layout.tail; ++m)
            ASSERT_NEAR(out[layout.lead + layout.loop + m], out[layout.lead + m], 1e-3);
    }
}

TEST(WriteAudioLoop, ForwardRunsPlayTheSourceAndBackwardRunsReverseIt) {
    SegmentAudio noise{kRate, 1, std::vector<float>(60 * kPerFrame)};
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1, 1);
    for (float& s : noise.samples)
        s = uniform(random);
    const Written w = build(noise, kSequence, 30.0);
    const int64_t lead = w.offset.frames;
    // The forward run starts at source frame 2; the backward run passes
    // frame 17 at entry 45. Positions fall on source samples up to rounding.
    for (int64_t i = 0; i < 1000; ++i) {
        ASSERT_NEAR(w.samples[lead + i], noise.samples[2 * kPerFrame + i], 1e-4) << i;
        ASSERT_NEAR(w.samples[lead + 45 * kPerFrame + i], noise.samples[17 * kPerFrame - i], 1e-4)
            << i;
    }
}

TEST(WriteAudioLoop, KeepsChannelsApartAndHoldsTheLastFrameOfShortSound) {
    // Stereo sound that ends after 10 frames of a 35-frame segment.
    const Written w = build(positionSource(kRate, 10 * kPerFrame, 2), kSequence, 30.0);
    const float last = 10 * kPerFrame - 1;
    float highest = 0;
    for (std::size_t m = 0; m < w.samples.size(); m += 2) {
        ASSERT_EQ(w.samples[m + 1], -w.samples[m]);
        highest = std::max(highest, w.samples[m]);
    }
    EXPECT_EQ(highest, last);
    // Frame 20 lies beyond the sound.
    EXPECT_EQ(w.samples[2 * (w.offset.frames + 18 * kPerFrame)], last);
}

TEST(WriteAudioLoop, EmptySequenceAndCancellation) {
    const SegmentAudio audio = positionSource(kRate, 100);
    try {
        build(audio, {}, 30.0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.domain(), "Kavlo");
        EXPECT_EQ(e.code(), 24);
        EXPECT_STREQ(e.what(), "Could not build audio loop.");
    }
    std::stop_source stop;
    int chunks = 0;
    EXPECT_THROW(writeAudioLoop(
                     audio, kSequence, 30.0, 30.0,
                     [&](std::span<const float>, int64_t) {
                         if (++chunks == 3)
                             stop.request_stop();
                     },
                     nullptr, stop.get_token()),
                 Cancelled);
    EXPECT_EQ(chunks, 3);
}

} // namespace
} // namespace kavlo
