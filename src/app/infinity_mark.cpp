#include "app/infinity_mark.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace kavlo {

namespace {

// Stroke width as a share of the frame's height.
constexpr double kStrokeShare = 0.16;
// The lemniscate is flatter than the mark wants; its height is stretched.
constexpr double kVerticalStretch = 1.3;

} // namespace

QPainterPath infinityMarkPath(const QRectF& rect) {
    const double stroke = rect.height() * kStrokeShare;
    const QRectF room = rect.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
    // Bernoulli's lemniscate spans 2a across and a / sqrt(2) down.
    const double spanHeight = kVerticalStretch / std::numbers::sqrt2;
    const double a = std::min(room.width() / 2, room.height() / spanHeight);
    const QPointF centre = room.center();
    QPainterPath path;
    constexpr int kSteps = 96;
    for (int i = 0; i <= kSteps; ++i) {
        const double t = 2 * std::numbers::pi * i / kSteps;
        const double d = 1 + std::sin(t) * std::sin(t);
        const QPointF p(centre.x() + a * std::cos(t) / d,
                        centre.y() + kVerticalStretch * a * std::sin(t) * std::cos(t) / d);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

void paintInfinityMark(QPainter& painter, const QRectF& rect) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(1.0f, 0.80f, 0.18f));
    gradient.setColorAt(1, QColor::fromRgbF(1.0f, 0.58f, 0.0f));
    QPen pen(QBrush(gradient), rect.height() * kStrokeShare, Qt::SolidLine, Qt::RoundCap,
             Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(infinityMarkPath(rect));
    painter.restore();
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF square(size * 0.06, size * 0.06, size * 0.88, size * 0.88);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(24, 24, 26));
        painter.drawRoundedRect(square, size * 0.2, size * 0.2);
        const double markWidth = square.width() * 0.74;
        paintInfinityMark(painter, QRectF(square.center().x() - markWidth / 2,
                                          square.center().y() - markWidth * 0.26, markWidth,
                                          markWidth * 0.52));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace kavlo
