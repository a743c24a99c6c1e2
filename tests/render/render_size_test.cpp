// Fitting the render size to the area that shows a preview.
#include "render/frame_reader.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(FitRenderSize, ShrinksToTheAreaKeepingTheShapeWithEvenSides) {
    struct Case {
        RenderSize size, box, fitted;
    };
    const Case cases[] = {
        // A new 760-point window's video area at 2x and 1x.
        {{1920, 1080}, {1448, 814}, {1446, 814}},
        {{1920, 1080}, {724, 407}, {724, 406}},
        // Limited by the width, then by the height; portrait.
        {{1920, 1080}, {1000, 1000}, {1000, 562}},
        {{1920, 1080}, {3000, 541}, {962, 540}},
        {{1080, 1920}, {1448, 814}, {458, 814}},
        // Never below 2 pixels a side.
        {{1920, 1080}, {3, 3}, {2, 2}},
    };
    for (const Case& c : cases) {
        const RenderSize fitted = fitRenderSize(c.size, c.box);
        EXPECT_EQ(fitted.width, c.fitted.width) << c.box.width << "x" << c.box.height;
        EXPECT_EQ(fitted.height, c.fitted.height) << c.box.width << "x" << c.box.height;
    }
}

TEST(FitRenderSize, NeverEnlargesAndAnEmptyAreaMeansNoLimit) {
    const RenderSize hd{1920, 1080};
    for (RenderSize box : {RenderSize{1920, 1080}, RenderSize{3840, 2160}, RenderSize{0, 0},
                           RenderSize{0, 500}, RenderSize{-1, 720}})
        EXPECT_EQ(fitRenderSize(hd, box), hd) << box.width << "x" << box.height;
}

} // namespace
} // namespace kavlo
