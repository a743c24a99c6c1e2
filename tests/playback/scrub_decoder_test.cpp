// A scrub seek on its way from a key frame to a frame far into its GOP, and
// when it gives way to a newer seek (the frames shown on the way are checked
// through the scrub player).
#include "playback/scrub_decoder.h"
#include "playback_test_util.h"

#include <gtest/gtest.h>

#include <optional>

namespace kavlo {
namespace {

using namespace test;

class ScrubDecoderTest : public Gop12SourceTest {
  protected:
    static int64_t frameUs(int k) { return (k * 1'000'000 + 15'000) / 30; } // inside frame k

    // Seeks to frame `target`; from the `askedFrom`th frame on the way, a
    // newer seek to frame `newer` waits. The index shown, or nothing when
    // the seek gave way.
    std::optional<int> show(int target, std::optional<int> newer = {}, int askedFrom = 1) {
        ScrubDecoder::SeekProgress progress;
        progress.interim = [&](ScrubDecoder::Picture p) {
            interims_.push_back(imageFrameIndex(p.image));
        };
        int asked = 0;
        progress.newer = [&]() -> std::optional<int64_t> {
            if (!newer || ++asked < askedFrom)
                return std::nullopt;
            return frameUs(*newer);
        };
        try {
            return imageFrameIndex(decoder_.show(frameUs(target), kBox, progress).image);
        } catch (const ScrubDecoder::GaveWay&) {
            return std::nullopt;
        }
    }

    static constexpr PixelSize kBox{160, 96};
    FrameCache cache_{64u << 20};
    ScrubDecoder decoder_{source_, cache_};
    std::vector<int> interims_;
};

TEST_F(ScrubDecoderTest, GivesWayToASeekAheadOrInAnotherGopAndLandsThereExactly) {
    cache_.reset(1, decoder_.timing());
    // Ahead in the same GOP: decoding goes on toward it.
    EXPECT_EQ(show(8, 10), std::nullopt);
    EXPECT_EQ(show(10), 10);
    // In another GOP, ahead or behind.
    EXPECT_EQ(show(35, 44), std::nullopt);
    EXPECT_EQ(show(44), 44);
    EXPECT_EQ(show(23, 2, 3), std::nullopt);
    EXPECT_EQ(show(2), 2);
}

TEST_F(ScrubDecoderTest, ASeekBeforeTheTargetInTheSameGopLandsExactlyAfterWaitingOrNot) {
    // Decoded on the way to frame 11: 0, 2, 4, 7, 9, 11; the unreferenced
    // B-frames in between (1, 3, 5, 6, 8, 10) are skipped, some already sent
    // to the decoder when a newer seek for one of them is noticed. Giving
    // way must not then show a neighbour of it instead.
    for (auto [newer, askedFrom] :
         {std::pair{1, 3}, std::pair{5, 3}, std::pair{8, 4}, std::pair{10, 5}, std::pair{6, 2}}) {
        cache_.reset(1, decoder_.timing());
        const std::optional<int> shown = show(11, newer, askedFrom);
        if (shown)
            EXPECT_EQ(*shown, 11) << newer;
        else
            EXPECT_EQ(show(newer), newer);
    }
}

} // namespace
} // namespace kavlo
