// The segment reader's choice of frame: the one on screen at each sampling
// time, whatever the source's own rate and timestamp precision.
#include "media/ffmpeg.h"
#include "media/input_file.h"
#include "media/segment_reader.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace kavlo {
namespace {

using test::makeIndexedVideo;
using test::TempDir;

// `shrink` > 1: read fitted to 1 / shrink of the picture's size.
std::vector<int> sampledIndices(const std::filesystem::path& file, double start, double range,
                                double rate, int shrink = 1) {
    InputFile input(file.string());
    const auto& v = *input.info().video;
    VideoSegmentReader reader(input, {start, range, rate, (v.codedWidth / shrink) & ~1,
                                      (v.codedHeight / shrink) & ~1, shrink > 1});
    std::vector<int> indices;
    while (auto picture = reader.next()) {
        const AVFrame* f = picture->frame();
        indices.push_back(test::readFrameIndex(f->data[0], f->linesize[0], f->width, f->height));
    }
    return indices;
}

TEST(VideoSegmentReader, SamplesTheFrameOnScreenAtEachStep) {
    TempDir dir;
    const auto file =
        makeIndexedVideo(dir / "25fps.mp4", {.rate = "25", .frames = 50, .keyframeInterval = 12});
    // Sampling a 25 fps source at 30: frame floor(t * 25) at t = 0.7 + k / 30.
    const auto indices = sampledIndices(file, 0.7, 0.5, 30);
    ASSERT_EQ(indices.size(), 15u);
    for (std::size_t k = 0; k < indices.size(); ++k)
        EXPECT_EQ(indices[k], int(std::floor((0.7 + k / 30.0) * 25 + 1e-9))) << k;
}

TEST(VideoSegmentReader, StartsInsideTheFirstGopOfAnMpegTs) {
    // MPEG-TS has no index: a seek lands on any packet near the time, here
    // inside the GOP that runs from 0 to 1 s, where nothing decodes until
    // the key frame at 1 s.
    TempDir dir;
    const auto file = makeIndexedVideo(
        dir / "gop.ts", {.frames = 60, .keyframeInterval = 30, .preset = "veryfast"});
    for (double start : {0.1, 0.25, 0.4, 0.55, 0.7, 1.3}) {
        const auto indices = sampledIndices(file, start, 0.2, 30);
        ASSERT_EQ(indices.size(), 6u) << start;
        for (std::size_t k = 0; k < indices.size(); ++k)
            EXPECT_EQ(indices[k], int(std::floor((start + k / 30.0) * 30 + 1e-6)))
                << "start " << start << " step " << k;
    }
}

TEST(InputFile, ASeekToTheStartFindsTheFirstPacketInEveryContainer) {
    // Time 0 lands inside the first GOP in MPEG-TS, a time before it is
    // refused by AVI, and a byte position is a header in most containers.
    TempDir dir;
    for (const char* name : {"start.ts", "start.avi", "start.mpg", "start.mkv", "start.mp4"}) {
        const std::string extension = std::filesystem::path(name).extension().string();
        const auto file = makeIndexedVideo(
            dir / name, {.frames = 45,
                         .keyframeInterval = 30,
                         .preset = "veryfast",
                         .codec = extension == ".avi"   ? "mjpeg"
                                  : extension == ".mpg" ? "mpeg2video"
                                                        : "libx264",
                         .pixelFormat = extension == ".avi" ? "yuvj420p" : "yuv420p"});
        InputFile input(file.string());
        const int video = input.info().video->streamIndex;
        av::PacketPtr first = av::allocPacket(), again = av::allocPacket();
        ASSERT_TRUE(input.readPacket(first.get(), video)) << name;
        while (input.readPacket(again.get(), video)) {
        }
        input.seek(video, 0.0);
        ASSERT_TRUE(input.readPacket(again.get(), video)) << name;
        EXPECT_EQ(again->pos, first->pos) << name;
        EXPECT_EQ(again->dts, first->dts) << name;
    }
}

TEST(VideoSegmentReader, StartsExactlyInsideAGopWithBFrames) {
    // Unreferenced B-frames before the start are skipped on the way there;
    // the one on screen at the start, and every one after, is still read,
    // also where a read shrunk to half size leaves out the loop filter.
    TempDir dir;
    const auto file = makeIndexedVideo(
        dir / "bframes.mp4",
        {.width = 320, .height = 192, .frames = 90, .keyframeInterval = 60, .preset = "veryfast"});
    // Frame 44 is such a B-frame.
    for (double start : {44 / 30.0, 1.47, 1.5}) {
        const int first = int(std::floor(start * 30 + 1e-9));
        std::vector<int> expected(9);
        std::iota(expected.begin(), expected.end(), first);
        EXPECT_EQ(sampledIndices(file, start, 0.3, 30), expected) << start;
        EXPECT_EQ(sampledIndices(file, start, 0.3, 30, 2), expected) << "half size " << start;
    }
}

TEST(VideoSegmentReader, StopsAtTheEndOfTheTrackAndOfTheRange) {
    TempDir dir;
    const auto file = makeIndexedVideo(dir / "short.mp4", {.frames = 10});
    EXPECT_EQ(sampledIndices(file, 0.2, 5.0, 30), (std::vector<int>{6, 7, 8, 9}));
    EXPECT_EQ(sampledIndices(file, 0.0, 0.001, 30), (std::vector<int>{0}));
    EXPECT_TRUE(sampledIndices(file, 1.0, 1.0, 30).empty());
}

} // namespace
} // namespace kavlo
