// Joining a video file and an audio file without encoding again: the cut in
// the audio must fall at the exact sample, also inside an AAC packet.
#include "media/error.h"
#include "render/final_mp4.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

using test::decodeAudio;
using test::TempDir;

class FinalMp4 : public ::testing::Test {
  protected:
    // One second of index-coded video; 1.5 s and 0.5 s of a rising tone.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        test::VideoSpec spec;
        spec.frames = 30;
        video_ = test::makeIndexedVideo(dir_->path() / "video.mp4", spec);
        for (auto [name, seconds] : {std::pair{"long.m4a", "1.5"}, std::pair{"short.m4a", "0.5"}})
            test::runFfmpeg(
                {"-f", "lavfi", "-i",
                 std::string("aevalsrc=0.5*sin(2*PI*(200*t+900*t*t)):s=48000:d=") + seconds, "-c:a",
                 "aac", (dir_->path() / name).string()});
    }
    static void TearDownTestSuite() { delete dir_; }

    static std::filesystem::path path(const std::string& name) { return dir_->path() / name; }

    static int assembleError(const std::filesystem::path& video, const std::filesystem::path& audio,
                             int64_t offset) {
        try {
            assembleFinalMP4(video, audio, path("error.mp4"), {offset, 48000});
        } catch (const Error& e) {
            EXPECT_EQ(e.domain(), "Kavlo");
            return e.code();
        }
        return 0;
    }

    static TempDir* dir_;
    static std::filesystem::path video_;
};

TempDir* FinalMp4::dir_ = nullptr;
std::filesystem::path FinalMp4::video_;

TEST_F(FinalMp4, AudioStartsAtTheExactSampleOfTheOffset) {
    const auto reference = decodeAudio(path("long.m4a"));
    const auto output = path("joined.mp4");
    std::ofstream(output) << "an older file";
    // At a packet edge, inside the first packet, inside later packets.
    for (int64_t offset : {0, 1, 1000, 2112, 3000}) {
        SCOPED_TRACE(offset);
        assembleFinalMP4(video_, path("long.m4a"), output, {offset, 48000});
        const auto audio = decodeAudio(output);
        EXPECT_DOUBLE_EQ(audio.firstSampleSeconds, 0.0);
        // The audio is cut to the video's length.
        EXPECT_DOUBLE_EQ(audio.trackSeconds, 1.0);
        ASSERT_GE(audio.frameCount(), 48000);
        for (int64_t m = 0; m < 48000; m += 7)
            ASSERT_NEAR(audio.at(m, 0), reference.at(offset + m, 0), 1e-4) << "sample " << m;
    }
    const auto video = test::decodeVideo(output);
    ASSERT_EQ(video.frames.size(), 30u);
    EXPECT_EQ(video.frames.back().index, 29);
    EXPECT_FALSE(video.hasDisplayMatrix);
    EXPECT_DOUBLE_EQ(video.trackSeconds, 1.0);
    EXPECT_TRUE(test::indexAtFront(output));
}

TEST_F(FinalMp4, AudioShorterThanTheVideoEndsEarly) {
    const auto output = path("short.mp4");
    assembleFinalMP4(video_, path("short.m4a"), output, {1000, 48000});
    EXPECT_DOUBLE_EQ(decodeAudio(output).trackSeconds, (24000 - 1000) / 48000.0);
    EXPECT_DOUBLE_EQ(test::decodeVideo(output).trackSeconds, 1.0);
}

TEST_F(FinalMp4, RefusesFilesWithoutTheirTrackAndAudioNoLongerThanTheOffset) {
    EXPECT_EQ(assembleError(path("long.m4a"), path("long.m4a"), 0), 20);
    EXPECT_EQ(assembleError(video_, video_, 0), 21);
    EXPECT_EQ(assembleError(video_, path("short.m4a"), 24000), 25);
    EXPECT_EQ(assembleError(video_, path("short.m4a"), 30000), 25);
    EXPECT_EQ(assembleError(video_, path("short.m4a"), 23999), 0);
}

} // namespace
} // namespace kavlo
