// The chevron and seek icon outlines.
#include "timeline/timeline_icons.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(TimelineIcons, ChevronsAreMirroredAndStretchedTheSeekArrowIsSymmetric) {
    EXPECT_TRUE(ChevronIcon{}.path(QRectF(0, 0, 18, 18)).isEmpty());
    const QRectF frame(100, 50, 18, 18);
    const QPainterPath left = ChevronIcon::left().path(frame);
    const QRectF l = left.boundingRect();
    const QRectF r = ChevronIcon::right().path(frame).boundingRect();
    EXPECT_NEAR(l.left() - frame.left(), frame.right() - r.right(), 1e-9);
    EXPECT_NEAR(l.width(), r.width(), 1e-9);
    EXPECT_LT(left.pointAtPercent(0).x(), l.center().x()); // the left one points left
    const QRectF wide = ChevronIcon::left().path(QRectF(0, 0, 36, 18)).boundingRect();
    EXPECT_NEAR(wide.width(), 2 * l.width(), 1e-9);
    EXPECT_NEAR(wide.height(), l.height(), 1e-9);

    const QPainterPath arrow = TimelineSeekIcon::path(QRectF(0, 0, 512, 512));
    EXPECT_TRUE(arrow.contains(QPointF(256, 256)));  // the bar
    EXPECT_FALSE(arrow.contains(QPointF(256, 200))); // narrower than the heads
    EXPECT_TRUE(arrow.contains(QPointF(20, 256)));   // near the left tip
    // Sampled off the grid lines, so that no sample sits on an edge.
    for (double x = 0.5; x < 512; x += 8)
        for (double y = 160.5; y < 352; y += 8) {
            const bool in = arrow.contains(QPointF(x, y));
            ASSERT_EQ(in, arrow.contains(QPointF(512 - x, y))) << x << "," << y;
            ASSERT_EQ(in, arrow.contains(QPointF(x, 512 - y))) << x << "," << y;
        }
    const QRectF small(10, 20, 13, 13);
    EXPECT_TRUE(small.contains(TimelineSeekIcon::path(small).boundingRect()));
}

} // namespace
} // namespace kavlo
