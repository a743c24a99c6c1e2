// Reading the segment's sound: the first sample returned is the one at the
// segment's start, checked against an independent decode of the whole file.
#include "render/audio_reader.h"
#include "support/broken_media.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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

} // namespace
} // namespace kavlo
