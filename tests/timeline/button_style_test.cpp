// The panel button styles on real buttons, read back from their pixels, and
// the seek icon's outline.
#include "timeline/panel_button_style.h"
#include "timeline/timeline_icons.h"
#include "timeline_test_support.h"

#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace kavlo::test {
namespace {

TEST(PanelButtonStyle, PressedIsBrighterTheLabelStaysWhiteAndMenusLookLikeButtons) {
    PanelButtonStyle style;
    QPushButton button(QStringLiteral("GIF"));
    button.setStyle(&style);
    button.resize(button.sizeHint());
    // Premultiplied white at opacity a reads back as white with that alpha.
    auto background = [&] {
        return pixelAt(renderWidget(button), 3, button.height() / 2.0).alpha();
    };
    auto whiteLabel = [&] {
        const QImage image = renderWidget(button);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == QColor(Qt::white))
                    return true;
        return false;
    };
    const int normal = background();
    EXPECT_GT(normal, 0);                                      // translucent white
    EXPECT_EQ(pixelAt(renderWidget(button), 0, 0).alpha(), 0); // rounded corner
    button.setDown(true);
    EXPECT_GT(background(), normal);
    EXPECT_TRUE(whiteLabel());
    button.setDown(false);
    button.setEnabled(false); // no disabled look of its own
    EXPECT_EQ(background(), normal);
    EXPECT_TRUE(whiteLabel());
    button.setEnabled(true);

    const QFontMetricsF fm(style.labelFont(button.font()));
    EXPECT_GT(button.sizeHint().height(), fm.height());
    EXPECT_LT(button.sizeHint().width(), fm.horizontalAdvance("GIF") + 26); // no minimum width
    LargePanelButtonStyle large;
    QPushButton big(QStringLiteral("GIF"));
    big.setStyle(&large);
    EXPECT_GT(big.sizeHint().height(), button.sizeHint().height() + 4);

    QToolButton menuButton;
    QMenu menu;
    menu.addAction(QStringLiteral("1 loop"));
    menuButton.setText(QStringLiteral("GIF"));
    menuButton.setToolButtonStyle(Qt::ToolButtonTextOnly);
    menuButton.setPopupMode(QToolButton::InstantPopup);
    menuButton.setMenu(&menu);
    menuButton.setStyle(&style);
    EXPECT_EQ(menuButton.sizeHint(), button.sizeHint());
    menuButton.resize(button.size());
    EXPECT_EQ(renderWidget(menuButton), renderWidget(button)); // no menu arrow
}

TEST(TimelineIcons, TheSeekArrowIsSymmetric) {
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
} // namespace kavlo::test
