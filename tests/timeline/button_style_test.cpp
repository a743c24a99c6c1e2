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
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 255 && c.red() == 255 && c.green() == 255 && c.blue() == 255)
                return true;
        }
    return false;
}

TEST(PanelButtonStyle, PressedButtonIsBrighterAndTheLabelStaysWhite) {
    PanelButtonStyle style;
    QPushButton button(QStringLiteral("Export as GIF"));
    button.setStyle(&style);
    button.resize(button.sizeHint());
    EXPECT_EQ(backgroundAlpha(button), 41); // 0.16
    EXPECT_TRUE(hasWhiteLabel(button));
    button.setDown(true);
    EXPECT_EQ(backgroundAlpha(button), 61); // 0.24
    EXPECT_TRUE(hasWhiteLabel(button));
    // Rounded corners, and no look of its own when disabled.
    EXPECT_EQ(pixelAt(renderWidget(button), 0, 0).alpha(), 0);
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(backgroundAlpha(button), 41);
}

TEST(PanelButtonStyle, SizeIsTheLabelPlusThePadding) {
    PanelButtonStyle panel;
    LargePanelButtonStyle large;
    QPushButton small(QStringLiteral("GIF"));
    QPushButton big(QStringLiteral("GIF"));
    small.setStyle(&panel);
    big.setStyle(&large);
    const QFontMetricsF fm(panel.labelFont(small.font()));
    EXPECT_EQ(small.sizeHint().height(), std::ceil(fm.height() + 12));
    // No minimum width inherited from the platform style.
    EXPECT_LT(small.sizeHint().width(), std::ceil(fm.horizontalAdvance("GIF") + 26));
    EXPECT_GT(big.sizeHint().width(), small.sizeHint().width() + 4);
    EXPECT_GT(big.sizeHint().height(), small.sizeHint().height() + 4);
    EXPECT_EQ(panel.labelFont(small.font()).weight(), QFont::DemiBold);
}

TEST(PanelButtonStyle, MenuButtonLooksLikeAPlainButton) {
    PanelButtonStyle style;
    QPushButton plain(QStringLiteral("Export as MP4"));
    QToolButton menuButton;
    QMenu menu;
    menu.addAction(QStringLiteral("1 loop"));
    menuButton.setText(QStringLiteral("Export as MP4"));
    menuButton.setToolButtonStyle(Qt::ToolButtonTextOnly);
    menuButton.setPopupMode(QToolButton::InstantPopup);
    menuButton.setMenu(&menu);
    plain.setStyle(&style);
    menuButton.setStyle(&style);
    EXPECT_EQ(menuButton.sizeHint(), plain.sizeHint());
    plain.resize(plain.sizeHint());
    menuButton.resize(plain.sizeHint());
    EXPECT_EQ(renderWidget(menuButton), renderWidget(plain));
}

} // namespace
} // namespace kavlo::test
