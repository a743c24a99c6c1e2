// The chevron and seek icon outlines.
#include "timeline/timeline_icons.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(ChevronIcon, DegenerateListsGiveEmptyOrZeroAreaOutlines) {
    EXPECT_TRUE(ChevronIcon{}.path(QRectF(0, 0, 18, 18)).isEmpty());
    const QPainterPath dot = ChevronIcon{{{12, 12}}}.path(QRectF(6, 6, 12, 12));
    ASSERT_GE(dot.elementCount(), 1);
    EXPECT_EQ(QPointF(dot.elementAt(0)), QPointF(12, 12));
    EXPECT_EQ(dot.boundingRect().size(), QSizeF(0, 0));
}

TEST(ChevronIcon, LeftAndRightAreMirrorImagesStretchedToTheirFrame) {
    const QRectF frame(100, 50, 18, 18);
    const QRectF left = ChevronIcon::left().path(frame).boundingRect();
    const QRectF right = ChevronIcon::right().path(frame).boundingRect();
    EXPECT_NEAR(left.left() - frame.left(), frame.right() - right.right(), 1e-9);
    EXPECT_NEAR(left.width(), right.width(), 1e-9);
    // The left chevron's tip is on the centre line, at x 8.3685 of 24.
    EXPECT_TRUE(ChevronIcon::left().path(frame).contains(QPointF(100 + 8.6 * 0.75, 59)));
    EXPECT_FALSE(ChevronIcon::left().path(frame).contains(QPointF(100 + 8.0 * 0.75, 59)));

    const QRectF wide = ChevronIcon::left().path(QRectF(0, 0, 36, 18)).boundingRect();
    EXPECT_NEAR(wide.width(), 2 * left.width(), 1e-9);
    EXPECT_NEAR(wide.height(), left.height(), 1e-9);
}

TEST(TimelineSeekIcon, DoubleArrowIsSymmetricAndSpansTheGrid) {
    const QPainterPath arrow = TimelineSeekIcon::path(QRectF(0, 0, 512, 512));
    const QRectF box = arrow.boundingRect();
    EXPECT_LT(box.left(), 12);
    EXPECT_GT(box.right(), 500);
    // The arrowheads' bases span 169.941..342.059, less the rounding of
    // their outer corners.
    EXPECT_NEAR(box.top(), 169.941, 6);
    EXPECT_NEAR(box.bottom(), 342.059, 6);

    EXPECT_TRUE(arrow.contains(QPointF(256, 256)));
    EXPECT_TRUE(arrow.contains(QPointF(256, 218)));  // the bar, 80 thick
    EXPECT_FALSE(arrow.contains(QPointF(256, 212))); // above it
    EXPECT_TRUE(arrow.contains(QPointF(120, 200)));  // the left arrowhead
    EXPECT_FALSE(arrow.contains(QPointF(140, 200))); // beside its base
    EXPECT_TRUE(arrow.contains(QPointF(20, 256)));   // near its tip

    // Sampled off the grid lines, so that no sample sits on an edge.
    for (double x = 0.5; x < 512; x += 8)
        for (double y = 160.5; y < 352; y += 8) {
            const bool in = arrow.contains(QPointF(x, y));
            ASSERT_EQ(in, arrow.contains(QPointF(512 - x, y))) << x << "," << y;
            ASSERT_EQ(in, arrow.contains(QPointF(x, 512 - y))) << x << "," << y;
        }

    const QRectF small = TimelineSeekIcon::path(QRectF(10, 20, 13, 13)).boundingRect();
    EXPECT_TRUE(QRectF(10, 20, 13, 13).contains(small));
}

} // namespace
} // namespace kavlo
