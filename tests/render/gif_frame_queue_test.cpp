// The worker threads that remap GIF pictures: results in list order whatever
// thread finishes first, failures and cancellation passed to the writer.
#include "media/error.h"
#include "media/ffmpeg.h"
#include "render/gif_frame_queue.h"
#include "support/error_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

namespace kavlo {
namespace {

// A flat grey picture: luma `y` (16...235), neutral chroma; with `grain`,
// each luma sample moved by up to that much at random.
Picture greyPicture(int y, int width = 64, int height = 48, int grain = 0, unsigned seed = 0) {
    av::FramePtr frame = av::allocFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        throw std::bad_alloc();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-grain, grain);
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x)
            frame->data[0][row * frame->linesize[0] + x] = uint8_t(y + noise(random));
    for (int plane : {1, 2})
        for (int row = 0; row < height / 2; ++row)
            std::memset(frame->data[plane] + row * frame->linesize[plane], 128, width / 2);
    return Picture(std::move(frame));
}
std::vector<Picture> greyPictures(const std::vector<int>& lumas, int width = 64, int height = 48) {
    std::vector<Picture> pictures;
    for (int y : lumas)
        pictures.push_back(greyPicture(y, width, height));
    return pictures;
}

// The 8-bit grey a limited-range luma value shows as.
int shownGrey(int y) {
    return int(std::lround((y - 16) * 255.0 / 219.0));
}

TEST(GifFrameQueue, GivesPicturesInListOrderFromSeveralThreads) {
    std::vector<Picture> pictures;
    GifPaletteLearner learner({}, {});
    for (int i = 0; i < 12; ++i) {
        pictures.push_back(greyPicture(16 + 18 * i));
        learner.learn(pictures.back());
    }
    const GifPalette palette = learner.palette();
    auto sorted = [](GifPalette p) {
        std::sort(p.begin(), p.end(), [](GifColour a, GifColour b) {
            return std::tie(a.r, a.g, a.b) < std::tie(b.r, b.g, b.b);
        });
        return p;
    };
    GifFrameQueue queue(std::move(pictures), {}, &palette, 3, {});
    GifPalette first;
    for (int i = 0; i < 12; ++i) {
        const IndexedFrame frame = queue.next();
        ASSERT_EQ(std::pair(frame.width, frame.height), std::pair(64, 48));
        // Every worker maps to the learnt colours, in one order.
        EXPECT_EQ(sorted(frame.palette), sorted(palette));
        if (first.empty())
            first = frame.palette;
        EXPECT_TRUE(frame.palette == first);
        for (uint8_t index : frame.pixels)
            for (uint8_t c : {frame.palette.at(index).r, frame.palette.at(index).b})
                ASSERT_NEAR(c, shownGrey(16 + 18 * i), 2) << "picture " << i;
    }

    // Palettes of their own fit each picture.
    GifFrameQueue own(greyPictures({40, 200}), {.sharedPalette = false}, nullptr, 2, {});
    for (int y : {40, 200}) {
        const IndexedFrame frame = own.next();
        EXPECT_NEAR(frame.palette.at(frame.pixels.at(0)).r, shownGrey(y), 2);
    }
}

TEST(GifFrameQueue, HoldsColoursThatChangeLittleFromPictureToPicture) {
    const std::vector<int> lumas = {100, 101, 102, 100, 160, 161};
    const GifPalette palette = {{0, 0, 0},       {98, 98, 98},    {100, 100, 100},
                                {102, 102, 102}, {170, 170, 170}, {172, 172, 172}};
    GifFrameQueue queue(greyPictures(lumas), {.holdDistance = 27}, &palette, 3, {});
    GifColour first{};
    for (int i = 0; i < 6; ++i) {
        const IndexedFrame frame = queue.next();
        const GifColour colour = frame.palette.at(frame.pixels.at(0));
        if (i == 0) {
            EXPECT_TRUE(frame.held.empty());
            first = colour;
            continue;
        }
        ASSERT_EQ(frame.held.size(), (64u * 48 + 63) / 64);
        // The small steps keep the first colour; the jump is drawn and the
        // step after it held again.
        const bool held = i != 4;
        for (std::size_t p = 0; p < 64u * 48; ++p)
            ASSERT_EQ(maskHas(frame.held, p), held) << "picture " << i << " pixel " << p;
        if (i < 4)
            EXPECT_EQ(colour, first) << "picture " << i;
        else
            EXPECT_NEAR(colour.r, shownGrey(160), 2) << "picture " << i;
    }

    // Without a distance nothing is held.
    GifFrameQueue exact(greyPictures(lumas), {.holdDistance = 0}, &palette, 2, {});
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(exact.next().held.empty());

    // Grain around a still grey is held the more the grainier the source,
    // a cut in it is drawn all the same.
    auto heldShares = [&](float perGrain) {
        std::vector<Picture> grainy;
        for (unsigned i = 0; i < 6; ++i)
            grainy.push_back(greyPicture(i < 5 ? 100 : 160, 128, 96, 3, i));
        GifFrameQueue queue(std::move(grainy), {.holdDistance = 10, .holdPerGrain = perGrain},
                            &palette, 2, {});
        std::vector<double> shares;
        for (int i = 0; i < 6; ++i) {
            const IndexedFrame frame = queue.next();
            std::size_t count = 0;
            for (std::size_t p = 0; i > 0 && p < 128u * 96; ++p)
                count += maskHas(frame.held, p);
            shares.push_back(double(count) / (128 * 96));
        }
        return shares;
    };
    const std::vector<double> plain = heldShares(0), adapted = heldShares(8);
    for (int i = 2; i < 5; ++i)
        EXPECT_GT(adapted[i], plain[i] + 0.15) << "picture " << i;
    EXPECT_EQ(adapted[5], 0.0);
}

TEST(GifFrameQueue, AWorkersFailureReachesTheWriter) {
    std::vector<Picture> pictures;
    for (int i = 0; i < 8; ++i)
        pictures.push_back(i == 3 ? Picture() : greyPicture(100));
    const GifPalette palette = {{0, 0, 0}, {128, 128, 128}, {255, 255, 255}};
    GifFrameQueue queue(std::move(pictures), {}, &palette, 2, {});
    int taken = 0;
    EXPECT_EQ(test::errorText([&] {
                  for (; taken < 8; ++taken)
                      queue.next();
              }),
              "Kavlo 8 Could not render GIF frame");
    EXPECT_LE(taken, 3);
}

TEST(GifFrameQueue, StopsWhenTheRenderIsCancelledAndWhenDroppedEarly) {
    const GifPalette palette = {{0, 0, 0}, {255, 255, 255}};
    std::stop_source stop;
    {
        GifFrameQueue queue(greyPictures(std::vector(6, 100), 320, 240), {}, &palette, 2,
                            stop.get_token());
        queue.next();
        stop.request_stop();
        EXPECT_THROW(queue.next(), Cancelled);
    }
    // Dropped with every picture still to take: the destructor must not hang.
    GifFrameQueue dropped(greyPictures(std::vector(6, 100), 320, 240), {}, &palette, 2, {});
}

} // namespace
} // namespace kavlo
