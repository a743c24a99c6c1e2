// The look of the panel's buttons and menus: a semibold white label on a
// translucent white rounded rectangle that brightens while pressed. Set on
// QPushButton and QToolButton (give a tool button with a menu the
// InstantPopup mode and the TextOnly button style).
//
// A style is not owned by the widgets it is set on; keep one instance alive
// for as long as they are, e.g. parented to the window. Neither style draws a
// disabled state of its own: the container dims disabled controls.
#pragma once

#include <QProxyStyle>

namespace kavlo {

struct PanelButtonMetrics {
    double horizontalPadding = 12;
    double verticalPadding = 6;
    double cornerRadius = 6;
    double fontScale = 12.0 / 13.0; // of the widget's font: the smaller "callout" size
};

class PanelButtonStyle : public QProxyStyle {
    Q_OBJECT

  public:
    PanelButtonStyle();

    const PanelButtonMetrics& metrics() const { return metrics_; }
    QFont labelFont(const QFont& base) const;
    static QColor backgroundColor(bool pressed);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;

  protected:
    explicit PanelButtonStyle(const PanelButtonMetrics& metrics);

  private:
    void drawButton(QPainter* painter, const QRect& rect, const QString& text, const QIcon& icon,
                    QSize iconSize, bool pressed, const QWidget* widget) const;
    QSize buttonSize(const QString& text, const QIcon& icon, QSize iconSize,
                     const QWidget* widget) const;

    PanelButtonMetrics metrics_;
};

// The same look, a size larger: for the welcome overlay's two buttons.
class LargePanelButtonStyle : public PanelButtonStyle {
    Q_OBJECT

  public:
    LargePanelButtonStyle();
};

} // namespace kavlo
