#include "session/thumbnails.h"

#include "core/error.h"
#include "media/ffmpeg.h"
#include "media/input_file.h"
#include "media/thumbnail_decoder.h"
#include "render/frame_reader.h"
#include "session/video_probe.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kavlo {
namespace {

// The index an index-coded thumbnail shows, -1 when it is not upright.
int indexShown(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    std::vector<uint8_t> luma(std::size_t(grey.width()) * grey.height());
    for (int y = 0; y < grey.height(); ++y)
        std::copy_n(grey.constScanLine(y), grey.width(), luma.begin() + y * grey.width());
    return test::readFrameIndex(luma.data(), grey.width(), grey.width(), grey.height());
}

TEST(ThumbnailTimes, TwoASecondBetweenTwelveAndOneHundredTwentyInABox) {
    const std::vector<double> tenth = thumbnailTimes(0.1);
    ASSERT_EQ(tenth.size(), 12u);
    EXPECT_EQ(tenth.front(), 0.0);
    EXPECT_DOUBLE_EQ(tenth[1], 0.1 / 11);
    EXPECT_EQ(tenth.back(), 0.1);
    EXPECT_EQ(thumbnailTimes(5).size(), 12u);
    const std::vector<double> half = thumbnailTimes(30);
    ASSERT_EQ(half.size(), 60u);
    EXPECT_DOUBLE_EQ(half[1], 30.0 / 59);
    EXPECT_EQ(half.back(), 30.0);
    EXPECT_EQ(thumbnailTimes(30.7).size(), 61u);
    const std::vector<double> tenMinutes = thumbnailTimes(600);
    ASSERT_EQ(tenMinutes.size(), 120u);
    EXPECT_EQ(tenMinutes.back(), 600.0);
    EXPECT_EQ(thumbnailTimes(1e300).size(), 120u);
    EXPECT_EQ(thumbnailTimes(std::numeric_limits<double>::quiet_NaN()),
              std::vector<double>(12, 0.0));

    // Fitted into 160x90, never enlarged.
    EXPECT_EQ(thumbnailSize(1080, 1920), QSize(51, 90));
    EXPECT_EQ(thumbnailSize(320, 96), QSize(160, 48));
    EXPECT_EQ(thumbnailSize(100, 50), QSize(100, 50));
}

TEST(Thumbnails, NearKeyFrameStandsInOtherwiseTheFrameOnScreen) {
    test::TempDir dir;
    // Key frames at 0, 1 and 2 s; B-frames between them.
    const auto clip = test::makeIndexedVideo(
        dir / "keys.mp4", {.frames = 90, .keyframeInterval = 30, .preset = "veryfast"});
    const QList<TimelineThumbnail> strip = generateThumbnails(clip, 3.0);
    // t = 3i/11; within 0.2 s of a key frame (0.82, 1.09, 1.91, 2.18 s)
    // the key frame serves; elsewhere the frame on screen at t - 0.2 s, the
    // first within reach, fewest frames past the key frame before it.
    const std::vector<int> expected = {0, 2, 10, 30, 30, 34, 43, 60, 60, 67, 75, 84};
    ASSERT_EQ(strip.size(), 12);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(strip[i].time, 3.0 * i / 11);
        EXPECT_EQ(strip[i].image.size(), QSize(150, 90));
        EXPECT_EQ(indexShown(strip[i].image), expected[i]);
        EXPECT_FALSE(strip[i].id.isNull());
        if (i > 0) {
            EXPECT_NE(strip[i].id, strip[i - 1].id);
        }
    }
}

TEST(Thumbnails, AStripSplitBetweenTwoDecodersKeepsTheRule) {
    // 12 s at 10 fps, a key frame every second: 24 images, two decoders.
    test::TempDir dir;
    const auto clip = test::makeIndexedVideo(dir / "long.mp4",
                                             {.rate = "10", .frames = 120, .keyframeInterval = 10});
    const QList<TimelineThumbnail> strip = generateThumbnails(clip, 12.0);
    ASSERT_EQ(strip.size(), 24);
    for (const TimelineThumbnail& thumbnail : strip) {
        SCOPED_TRACE(thumbnail.time);
        const int onScreen =
            std::clamp(int(std::floor((thumbnail.time - 0.2) * 10 + 1e-6)), 0, 119);
        const double nearestKey = std::round(thumbnail.time);
        const bool keyServes = std::abs(nearestKey - thumbnail.time) <= 0.2 && nearestKey < 12;
        EXPECT_EQ(indexShown(thumbnail.image), keyServes ? int(nearestKey) * 10 : onScreen);
    }
}

// The index the renderer reads first for a segment starting at `t`.
int renderedIndexAt(const std::filesystem::path& path, double t) {
    InputFile file(path.string());
    const RenderSize size = computeRenderSize(*file.info().video);
    const auto frames =
        readSegmentFrames(file, t, t + 0.001, 30, size.width, size.height, nullptr, 1.0);
    if (frames.empty())
        return -1;
    const AVFrame* f = frames.front().frame();
    return test::readFrameIndex(f->data[0], f->linesize[0], f->width, f->height);
}

TEST(Thumbnails, WithoutToleranceTheStripShowsWhatTheRendererReads) {
    // B-frames, short GOPs, millisecond times in Matroska, and a video that
    // starts a tenth of a second after its sound.
    test::TempDir dir;
    const auto made = test::makeIndexedVideo(dir / "sound-first.mkv", {.rate = "60000/1001",
                                                                       .frames = 24,
                                                                       .keyframeInterval = 8,
                                                                       .preset = "veryfast",
                                                                       .audio = "sin(2*PI*440*t)"});
    for (const std::string container : {"mkv", "ts", "mp4"}) {
        SCOPED_TRACE(container);
        const auto path = test::delayVideo(made, dir / ("late." + container), 0.1);
        const QList<TimelineThumbnail> strip =
            generateThumbnails(path, probeVideo(path).durationSeconds, {}, 0.0);
        ASSERT_EQ(strip.size(), 12);
        for (qsizetype i = 0; i + 1 < strip.size(); ++i)
            EXPECT_EQ(indexShown(strip[i].image), renderedIndexAt(path, strip[i].time))
                << "at " << strip[i].time;
        EXPECT_EQ(indexShown(strip.back().image), 23) << "the last frame stays on screen";

        // Asked first for the very end, where a seek may find no key frame.
        ThumbnailDecoder decoder(path);
        const Frame last =
            decoder.frameFor(SourceTime::fromUs(secondsToUs(strip.back().time)), Microseconds(0));
        ASSERT_TRUE(last);
        EXPECT_EQ(test::readFrameIndex(last->data[0], last->linesize[0], last->width, last->height),
                  23);
    }
}

TEST(Thumbnails, TurnedSourcesComeOutUpright) {
    test::TempDir dir;
    for (const test::TurnedClip& turn : test::kTurnedClips) {
        SCOPED_TRACE(turn.name);
        const QList<TimelineThumbnail> strip =
            generateThumbnails(test::makeTurnedVideo(dir.path(), turn, 4), 4 / 30.0);
        ASSERT_EQ(strip.size(), 12);
        for (const TimelineThumbnail& thumbnail : strip) {
            EXPECT_EQ(thumbnail.image.size(), QSize(54, 90));
            EXPECT_GE(indexShown(thumbnail.image), 0) << "at " << thumbnail.time;
        }
    }
}

TEST(Thumbnails, UnreadableFileGivesNoneAndStoppingCancels) {
    test::TempDir dir;
    EXPECT_TRUE(generateThumbnails(dir / "missing.mp4", 10).isEmpty());
    const auto clip = test::makeIndexedVideo(dir / "clip.mp4", {.frames = 10});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(generateThumbnails(clip, 0.33, stop.get_token()), Cancelled);
}

} // namespace
} // namespace kavlo
