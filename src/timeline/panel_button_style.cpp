#include "timeline/panel_button_style.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

#include <cmath>

namespace kavlo {

namespace {
constexpr int kIconSpacing = 4;

QFont baseFont(const QWidget* widget) {
    return widget ? widget->font() : QApplication::font();
}
} // namespace

PanelButtonStyle::PanelButtonStyle() : PanelButtonStyle(PanelButtonMetrics{}) {}

PanelButtonStyle::PanelButtonStyle(const PanelButtonMetrics& metrics) : metrics_(metrics) {}

LargePanelButtonStyle::LargePanelButtonStyle()
    : PanelButtonStyle(PanelButtonMetrics{14, 8, 8, 1.0}) {}

QFont PanelButtonStyle::labelFont(const QFont& base) const {
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * metrics_.fontScale);
    else
        font.setPixelSize(
            std::max(1, static_cast<int>(std::round(base.pixelSize() * metrics_.fontScale))));
    font.setWeight(QFont::DemiBold);
    return font;
}

QColor PanelButtonStyle::backgroundColor(bool pressed) {
    return QColor::fromRgbF(1, 1, 1, pressed ? 0.24f : 0.16f);
}

void PanelButtonStyle::drawControl(ControlElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    if (element == CE_PushButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            drawButton(painter, button->rect, button->text, button->icon, button->iconSize,
                       button->state & State_Sunken, widget);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void PanelButtonStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                          QPainter* painter, const QWidget* widget) const {
    if (control == CC_ToolButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            const QString text =
                button->toolButtonStyle == Qt::ToolButtonIconOnly && !button->icon.isNull()
                    ? QString()
                    : button->text;
            const QIcon icon =
                button->toolButtonStyle == Qt::ToolButtonTextOnly ? QIcon() : button->icon;
            drawButton(painter, button->rect, text, icon, button->iconSize,
                       button->state & State_Sunken, widget);
            return;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QSize PanelButtonStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                         const QSize& size, const QWidget* widget) const {
    if (type == CT_PushButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option))
            return buttonSize(button->text, button->icon, button->iconSize, widget);
    }
    if (type == CT_ToolButton) {
        if (const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            const bool iconOnly =
                button->toolButtonStyle == Qt::ToolButtonIconOnly && !button->icon.isNull();
            const bool textOnly = button->toolButtonStyle == Qt::ToolButtonTextOnly;
            return buttonSize(iconOnly ? QString() : button->text,
                              textOnly ? QIcon() : button->icon, button->iconSize, widget);
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int PanelButtonStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                  const QWidget* widget) const {
    // The label is the whole button: no separate menu arrow is drawn, so none
    // is made room for.
    if (metric == PM_MenuButtonIndicator)
        return 0;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize PanelButtonStyle::buttonSize(const QString& text, const QIcon& icon, QSize iconSize,
                                   const QWidget* widget) const {
    const QFontMetricsF fm(labelFont(baseFont(widget)));
    double w = text.isEmpty() ? 0 : fm.size(Qt::TextShowMnemonic, text).width();
    double h = text.isEmpty() ? 0 : fm.height();
    if (!icon.isNull()) {
        w += iconSize.width() + (text.isEmpty() ? 0 : kIconSpacing);
        h = std::max(h, static_cast<double>(iconSize.height()));
    }
    return {static_cast<int>(std::ceil(w + 2 * metrics_.horizontalPadding)),
            static_cast<int>(std::ceil(h + 2 * metrics_.verticalPadding))};
}

void PanelButtonStyle::drawButton(QPainter* painter, const QRect& rect, const QString& text,
                                  const QIcon& icon, QSize iconSize, bool pressed,
                                  const QWidget* widget) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect), metrics_.cornerRadius, metrics_.cornerRadius);
    painter->fillPath(shape, backgroundColor(pressed));

    const QFont font = labelFont(baseFont(widget));
    const QFontMetricsF fm(font);
    const double textWidth = text.isEmpty() ? 0 : fm.size(Qt::TextShowMnemonic, text).width();
    const double iconWidth =
        icon.isNull() ? 0 : iconSize.width() + (text.isEmpty() ? 0 : kIconSpacing);
    double x = rect.x() + (rect.width() - textWidth - iconWidth) / 2;
    if (!icon.isNull()) {
        const QRect iconRect(static_cast<int>(std::round(x)),
                             rect.y() + (rect.height() - iconSize.height()) / 2, iconSize.width(),
                             iconSize.height());
        icon.paint(painter, iconRect);
        x += iconWidth;
    }
    if (!text.isEmpty()) {
        painter->setFont(font);
        painter->setPen(Qt::white);
        painter->drawText(QRectF(x, rect.y(), textWidth, rect.height()),
                          Qt::AlignCenter | Qt::TextShowMnemonic, text);
    }
    painter->restore();
}

} // namespace kavlo
