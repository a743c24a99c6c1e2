// Reading the segment's sound: the first sample returned is the one at the
// segment's start, checked against an independent decode of the whole file.
#include "render/audio_reader.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kavlo {
namespace {

// Largest difference between the segment and the file's own samples from
// `first` on, with the segment shifted by `lag` frames.
double difference(const SegmentAudio& segment, const test::DecodedAudio& file, int64_t first,
                  int lag) {
    double worst = 0;
    for (int64_t i = std::max<int64_t>(0, -lag - first); i < segment.frameCount(); ++i)
        for (int ch = 0; ch < segment.channelCount; ++ch)
            worst =
                std::max<double>(worst, std::abs(segment.samples[i * segment.channelCount + ch] -
                                                 file.at(first + i + lag, ch)));
    return worst;
}

TEST(ReadSegmentAudio, StartsAtTheExactSampleAndKeepsRateAndChannels) {
    test::TempDir dir;
    test::VideoSpec spec;
    spec.audio = "0.5*sin(2*PI*(200*t+400*t*t))|0.3*sin(2*PI*700*t)";
    const auto mp4 = test::makeIndexedVideo(dir / "aac.mp4", spec);
    const auto file = test::decodeAudio(mp4);
    InputFile input(mp4.string());
    // The start of the file, inside an AAC packet, and later; the frame
    // reader has moved the read position between calls in a real render.
    for (double start : {0.0, 0.25, 0.3107, 1.0}) {
        SCOPED_TRACE(start);
        const auto segment = readSegmentAudio(input, start, start + 0.5);
        ASSERT_TRUE(segment);
        EXPECT_EQ(segment->sampleRate, 48000);
        EXPECT_EQ(segment->channelCount, 2);
        EXPECT_EQ(segment->frameCount(), 24000);
        EXPECT_LT(difference(*segment, file, std::llround(start * 48000), 0), 1e-4);
    }
    // A range that runs past the sound ends where the sound does; one
    // beyond it has no sound at all.
    EXPECT_EQ(readSegmentAudio(input, 1.8, 2.5)->frameCount(), file.frameCount() - 86400);
    EXPECT_FALSE(readSegmentAudio(input, 2.5, 3.0));
    InputFile silent(test::makeIndexedVideo(dir / "silent.mp4", {}).string());
    EXPECT_FALSE(readSegmentAudio(silent, 0.0, 1.0));
}

TEST(ReadSegmentAudio, MatroskaStartsWithinHalfAMillisecond) {
    // FLAC in Matroska: integer samples, and a container that counts time in
    // milliseconds, so a seek can place the first packet only to within half
    // of one (22 frames at 44100 Hz).
    test::TempDir dir;
    test::VideoSpec spec;
    spec.audio = "0.5*sin(2*PI*(200*t+400*t*t))";
    spec.sampleRate = 44100;
    spec.audioCodec = "flac";
    const auto mkv = test::makeIndexedVideo(dir / "flac.mkv", spec);
    const auto file = test::decodeAudio(mkv);
    InputFile input(mkv.string());
    for (double start : {0.0, 0.7}) {
        SCOPED_TRACE(start);
        const auto segment = readSegmentAudio(input, start, start + 0.5);
        ASSERT_TRUE(segment);
        ASSERT_EQ(segment->frameCount(), 22050);
        double best = 1;
        for (int lag = -22; lag <= 22; ++lag)
            best = std::min(best, difference(*segment, file, std::llround(start * 44100), lag));
        EXPECT_LT(best, 1e-4);
    }
}

} // namespace
} // namespace kavlo
