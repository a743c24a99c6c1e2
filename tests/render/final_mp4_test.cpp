// Joining a video file and an audio file without encoding again: the audio
// must start at the exact sample of the offset, also inside an AAC packet.
#include "media/error.h"
#include "render/final_mp4.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

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

} // namespace
} // namespace kavlo
