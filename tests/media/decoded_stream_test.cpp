// The decoded stream every reader pulls from: seeks start a new generation
// that nothing decoded before them outlives, skipping leaves out only
// pictures nothing refers to, and sound frames follow each other in time.
#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

int indexOf(const DecodedFrame& f) {
    return test::readFrameIndex(f.frame->data[0], f.frame->linesize[0], f.frame->width,
                                f.frame->height);
}

TEST(DecodedStream, ASeekStartsAGenerationAndSkippingKeepsTheFrameOnScreen) {
    test::TempDir dir;
    const auto path = test::makeIndexedVideo(dir / "gop.mp4", {.rate = "30",
                                                               .frames = 48,
                                                               .keyframeInterval = 12,
                                                               .preset = "veryfast",
                                                               .audio = "sin(2*PI*440*t)"});
    DecodedStream stream(path.string(), MediaKind::video);
    std::optional<DecodedFrame> first = stream.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(indexOf(*first), 0);
    EXPECT_TRUE(stream.next()->contiguous);

    // Frames the decoder held back before the seek never come out after it.
    const SourceTime t = SourceTime::fromUs(1'000'000); // frame 30, in the GOP from 24
    const uint64_t generation = stream.seek(t);
    EXPECT_GT(generation, first->generation);
    stream.skipUnreferencedBefore(t);
    std::optional<DecodedFrame> f = stream.next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->generation, generation);
    EXPECT_FALSE(f->contiguous);
    EXPECT_EQ(indexOf(*f), 24) << "lands on the key frame before t";
    int onScreen = -1;
    while ((f = stream.next()) && stream.timing().startedBy(f->start.us(), t.us())) {
        EXPECT_EQ(f->generation, generation);
        onScreen = indexOf(*f);
    }
    EXPECT_EQ(onScreen, 30) << "the frame on screen at t is decoded, whatever was skipped";

    EXPECT_EQ(stream.scanEnd().us(), 1'600'000);
    EXPECT_EQ(indexOf(*stream.next()), 0) << "scanning leaves the stream at the start";

    // Sound: each frame starts where the one before it ended.
    DecodedStream sound(path.string(), MediaKind::audio);
    std::optional<DecodedFrame> previous = sound.next();
    ASSERT_TRUE(previous && previous->length.count() > 0);
    for (int i = 0; i < 20; ++i) {
        std::optional<DecodedFrame> next = sound.next();
        ASSERT_TRUE(next);
        EXPECT_NEAR(double(next->start.us()), double((previous->start + previous->length).us()),
                    25.0);
        previous = std::move(next);
    }
}

TEST(DecodedStream, ATrackThatIsNotThereIsNamed) {
    test::TempDir dir;
    const auto path = test::makeIndexedVideo(dir / "silent.mp4", {.frames = 4});
    try {
        DecodedStream sound(path.string(), MediaKind::audio);
        FAIL() << "opened a track that is not there";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), kNoAudioTrack);
    }
}

} // namespace
} // namespace kavlo
