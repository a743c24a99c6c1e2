// The panel button styles on real buttons, read back from their pixels.
#include "timeline/panel_button_style.h"
#include "timeline_test_support.h"

#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace kavlo::test {
namespace {

// Premultiplied white at opacity a reads back as white with that alpha.
int backgroundAlpha(QWidget& button) {
    return pixelAt(renderWidget(button), 3, button.height() / 2.0).alpha();
}

bool hasWhiteLabel(QWidget& button) {
    const QImage image = renderWidget(button);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(Qt::white))
                return true;
    return false;
}

TEST(PanelButtonStyle, PressedIsBrighterAndTheLabelStaysWhite) {
    PanelButtonStyle style;
    QPushButton button(QStringLiteral("Export as GIF"));
    button.setStyle(&style);
    button.resize(button.sizeHint());
    const int normal = backgroundAlpha(button);
    EXPECT_GT(normal, 0);                                      // translucent white
    EXPECT_EQ(pixelAt(renderWidget(button), 0, 0).alpha(), 0); // rounded corner
    button.setDown(true);
    EXPECT_GT(backgroundAlpha(button), normal);
    EXPECT_TRUE(hasWhiteLabel(button));
    button.setDown(false);
    button.setEnabled(false); // no disabled look of its own
    EXPECT_EQ(backgroundAlpha(button), normal);
    EXPECT_TRUE(hasWhiteLabel(button));
}

TEST(PanelButtonStyle, SizeIsTheLabelPlusThePaddingAndMenusLookLikeButtons) {
    PanelButtonStyle panel;
    LargePanelButtonStyle large;
    QPushButton small(QStringLiteral("GIF"));
    QPushButton big(QStringLiteral("GIF"));
    small.setStyle(&panel);
    big.setStyle(&large);
    const QFontMetricsF fm(panel.labelFont(small.font()));
    EXPECT_GT(small.sizeHint().height(), fm.height());
    EXPECT_LT(small.sizeHint().width(), fm.horizontalAdvance("GIF") + 26); // no minimum width
    EXPECT_GT(big.sizeHint().height(), small.sizeHint().height() + 4);

    QToolButton menuButton;
    QMenu menu;
    menu.addAction(QStringLiteral("1 loop"));
    menuButton.setText(QStringLiteral("GIF"));
    menuButton.setToolButtonStyle(Qt::ToolButtonTextOnly);
    menuButton.setPopupMode(QToolButton::InstantPopup);
    menuButton.setMenu(&menu);
    menuButton.setStyle(&panel);
    EXPECT_EQ(menuButton.sizeHint(), small.sizeHint());
    small.resize(small.sizeHint());
    menuButton.resize(small.sizeHint());
    EXPECT_EQ(renderWidget(menuButton), renderWidget(small)); // no menu arrow
}

} // namespace
} // namespace kavlo::test
