#include "session/thumbnails.h"

#include "core/error.h"
#include "core/yield_gate.h"
#include "media/ffmpeg.h"
#include "media/thumbnail_decoder.h"
#include "session/video_probe.h"
#include "support/rendered_frames.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <thread>
#include <tuple>

namespace kavlo {
namespace {

using namespace std::chrono_literals;

// The index an index-coded thumbnail shows, -1 when it is not upright.
int indexShown(const QImage& image) {
    const QImage bgra = image.convertToFormat(QImage::Format_RGB32);
    return test::RgbPicture::fromBgra(bgra.constBits(), bgra.width(), bgra.height()).frameIndex();
}

// 12 s at 10 fps, a key frame every second: 24 images, two decoders.
const std::filesystem::path& longClip() {
    return test::sharedClip("long.mp4", {.rate = "10", .frames = 120, .keyframeInterval = 10});
}

TEST(ThumbnailTimes, TwoASecondBetweenTwelveAndOneHundredTwentyInABox) {
    const std::vector<double> tenth = thumbnailTimes(0.1);
    ASSERT_EQ(tenth.size(), 12u);
    EXPECT_EQ(tenth.front(), 0.0);
    EXPECT_DOUBLE_EQ(tenth[1], 0.1 / 11);
    EXPECT_EQ(tenth.back(), 0.1);
    const std::vector<double> half = thumbnailTimes(30);
    ASSERT_EQ(half.size(), 60u);
    EXPECT_DOUBLE_EQ(half[1], 30.0 / 59);
    EXPECT_EQ(half.back(), 30.0);
    EXPECT_EQ(thumbnailTimes(30.7).size(), 61u);
    EXPECT_EQ(thumbnailTimes(1e300).size(), 120u);
    EXPECT_EQ(thumbnailTimes(std::numeric_limits<double>::quiet_NaN()),
              std::vector<double>(12, 0.0));

    // Fitted into 160x90, never enlarged.
    EXPECT_EQ(thumbnailSize(1080, 1920), QSize(51, 90));
    EXPECT_EQ(thumbnailSize(320, 96), QSize(160, 48));
    EXPECT_EQ(thumbnailSize(100, 50), QSize(100, 50));
    // Or scaled to cover a tile, up as well as down.
    EXPECT_EQ(thumbnailCoverSize(1920, 1080, QSize(152, 128)), QSize(228, 128));
    EXPECT_EQ(thumbnailCoverSize(1080, 1920, QSize(152, 128)), QSize(152, 271));
}

TEST(Thumbnails, NearKeyFrameStandsInOtherwiseTheFrameOnScreen) {
    // Key frames every second: 3 s at 30 fps with B-frames between them, and
    // 12 s at 10 fps, whose 24 images are split between two decoders.
    test::TempDir dir;
    const std::tuple<const char*, test::TestClip, double> clips[] = {
        {"keys.mp4", {.frames = 90, .keyframeInterval = 30, .preset = "veryfast"}, 3.0},
        {"long.mp4", {.rate = "10", .frames = 120, .keyframeInterval = 10}, 12.0}};
    for (const auto& [name, clip, seconds] : clips) {
        const QList<TimelineThumbnail> strip =
            generateThumbnails(test::makeIndexedVideo(dir / name, clip), seconds);
        ASSERT_EQ(strip.size(), seconds == 3 ? 12 : 24);
        const double fps = clip.framesPerSecond();
        for (qsizetype i = 0; i < strip.size(); ++i) {
            const double t = strip[i].time;
            SCOPED_TRACE(t);
            EXPECT_DOUBLE_EQ(t, seconds * double(i) / double(strip.size() - 1));
            EXPECT_EQ(strip[i].image.size(), QSize(150, 90));
            // Within 0.2 s of a key frame the key frame serves; elsewhere the
            // frame on screen at t - 0.2 s, the first within reach, fewest
            // frames past the key frame before it.
            const double nearestKey = std::round(t);
            const int onScreen =
                std::clamp(int(std::floor((t - 0.2) * fps + 1e-6)), 0, clip.frames - 1);
            EXPECT_EQ(indexShown(strip[i].image),
                      std::abs(nearestKey - t) <= 0.2 && nearestKey < seconds
                          ? int(nearestKey * fps)
                          : onScreen);
            EXPECT_FALSE(strip[i].id.isNull());
            if (i > 0) {
                EXPECT_NE(strip[i].id, strip[i - 1].id);
            }
        }
    }
}

TEST(Thumbnails, KeyFramesAreShownFirstThenReplacedInPlace) {
    // Calls come one at a time (the strip is locked meanwhile).
    std::vector<QList<TimelineThumbnail>> shown;
    const QList<TimelineThumbnail> strip =
        generateThumbnails(longClip(), 12.0, {}, kThumbnailToleranceSeconds,
                           [&](const QList<TimelineThumbnail>& now) { shown.push_back(now); });
    ASSERT_EQ(strip.size(), 24);
    // Every strip shown keeps each image's id and size, so replacing one
    // moves and blanks nothing; the first, complete, shows the key frame
    // nearest to each time.
    ASSERT_FALSE(shown.empty());
    for (const QList<TimelineThumbnail>& now : shown) {
        ASSERT_EQ(now.size(), 24);
        for (int i = 0; i < 24; ++i) {
            EXPECT_EQ(now[i].id, strip[i].id);
            EXPECT_EQ(now[i].image.size(), strip[i].image.size());
        }
    }
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE(strip[i].time);
        const int key = indexShown(shown.front()[i].image);
        EXPECT_EQ(key % 10, 0);
        EXPECT_LE(std::abs(key / 10.0 - std::min(strip[i].time, 11.0)), 0.5);
    }
}

TEST(Thumbnails, ExactImagesWaitWhileTheGateIsHeldAndStoppingEndsTheWait) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopped" : "released");
        YieldGate gate;
        std::optional<YieldGate::Hold> hold(std::in_place, gate);
        std::stop_source stopping;
        std::atomic<bool> keysShown = false;
        auto made = std::async(std::launch::async, [&] {
            return generateThumbnails(
                longClip(), 12.0, stopping.get_token(), kThumbnailToleranceSeconds,
                [&](const QList<TimelineThumbnail>&) { keysShown = true; }, {}, &gate);
        });
        for (int i = 0; i < 1000 && !keysShown; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(keysShown) << "the key frames do not wait";
        EXPECT_EQ(made.wait_for(300ms), std::future_status::timeout);
        if (stop) {
            stopping.request_stop();
            EXPECT_THROW(made.get(), Cancelled);
            continue;
        }
        hold.reset();
        const QList<TimelineThumbnail> strip = made.get();
        ASSERT_EQ(strip.size(), 24);
        // 12 * 7 / 23 = 3.65 s is no key frame's: the frame on screen at 3.45 s.
        EXPECT_EQ(indexShown(strip[7].image), 34);
    }
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
            EXPECT_EQ(indexShown(strip[i].image), test::renderedIndexAt(path, strip[i].time))
                << "at " << strip[i].time;
        EXPECT_EQ(indexShown(strip.back().image), 23) << "the last frame stays on screen";

        // Asked first for the very end, where a seek may find no key frame.
        ThumbnailDecoder decoder(path);
        const Frame last =
            decoder.frameFor(SourceTime::fromUs(secondsToUs(strip.back().time)), Microseconds(0));
        ASSERT_TRUE(last);
        EXPECT_EQ(test::readFrameIndex(*last.get()), 23);
    }
}

TEST(Thumbnails, TurnedSourcesComeOutUpright) {
    test::TempDir dir;
    for (const test::TurnedClip& turn : test::kTurnedClips) {
        SCOPED_TRACE(turn.name);
        const auto clip = test::makeTurnedVideo(dir.path(), turn, 4);
        const QList<TimelineThumbnail> strip = generateThumbnails(clip, 4 / 30.0);
        ASSERT_EQ(strip.size(), 12);
        for (const TimelineThumbnail& thumbnail : strip) {
            EXPECT_EQ(thumbnail.image.size(), QSize(54, 90));
            EXPECT_GE(indexShown(thumbnail.image), 0) << "at " << thumbnail.time;
        }
        const QList<TimelineThumbnail> tiles =
            generateThumbnails(clip, 4 / 30.0, {}, kThumbnailToleranceSeconds, {}, QSize(76, 64));
        ASSERT_EQ(tiles.size(), 12);
        for (const TimelineThumbnail& thumbnail : tiles)
            EXPECT_EQ(thumbnail.image.size(), QSize(76, 64));
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
