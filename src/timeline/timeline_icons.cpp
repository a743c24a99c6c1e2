#include "timeline/timeline_icons.h"

#include <QTransform>

#include <cmath>

namespace kavlo {

QPainterPath ChevronIcon::path(const QRectF& rect) const {
    QPainterPath outline;
    if (points.empty())
        return outline;
    const double sx = rect.width() / 24;
    const double sy = rect.height() / 24;
    auto map = [&](QPointF p) {
        return QPointF(rect.left() + p.x() * sx, rect.top() + p.y() * sy);
    };
    outline.moveTo(map(points.front()));
    for (size_t i = 1; i < points.size(); ++i)
        outline.lineTo(map(points[i]));
    outline.closeSubpath();
    return outline;
}

ChevronIcon ChevronIcon::left() {
    return {{{8.3685, 12},
             {13.1162, 3.03212},
             {14.8838, 3.9679},
             {10.6315, 12},
             {14.8838, 20.0321},
             {13.1162, 20.9679}}};
}

ChevronIcon ChevronIcon::right() {
    ChevronIcon icon = left();
    for (QPointF& p : icon.points)
        p.setX(24 - p.x());
    return icon;
}

namespace {

// Design-grid values of the arrow. The bar is 80 units thick around y = 256;
// the arrowheads' bases stand at the bar's ends and their tips reach the
// grid's sides.
constexpr double kBarLeft = 134.059;
constexpr double kBarTop = 216;
constexpr double kHeadTop = 169.941;
constexpr double kCornerRound = 12; // how far the rounding of a base corner reaches along each side
constexpr double kTipRound = 14;    // the same at the tips
constexpr double kKappa = 0.55;     // cubic handle length of a rounded corner, as a fraction

// The right half of the outline, from the bar's top-centre clockwise to its
// bottom-centre; the left half is its mirror image.
void addRightHalf(QPainterPath& path) {
    const double barRight = 512 - kBarLeft;
    const QPointF corner(barRight, kHeadTop);
    const QPointF tip(512, 256);
    const QPointF along = (tip - corner) / std::hypot(tip.x() - corner.x(), tip.y() - corner.y());
    auto roundCorner = [&](QPointF from, QPointF at, QPointF to) {
        path.lineTo(from);
        path.cubicTo(from + (at - from) * kKappa, to + (at - to) * kKappa, to);
    };
    auto mirrorY = [](QPointF p) { return QPointF(p.x(), 512 - p.y()); };

    path.lineTo(barRight, kBarTop);
    roundCorner(QPointF(barRight, kHeadTop + kCornerRound), corner, corner + along * kCornerRound);
    roundCorner(tip - along * kTipRound, tip, mirrorY(tip - along * kTipRound));
    roundCorner(mirrorY(corner + along * kCornerRound), mirrorY(corner),
                mirrorY(QPointF(barRight, kHeadTop + kCornerRound)));
    path.lineTo(barRight, 512 - kBarTop);
    path.lineTo(256, 512 - kBarTop);
}

QPainterPath designOutline() {
    QPainterPath right;
    right.moveTo(256, kBarTop);
    addRightHalf(right);
    // Turning the right half by 180 degrees about the centre gives the left
    // half running on from the bar's bottom-centre back to its top-centre.
    const QTransform turn = QTransform().translate(512, 512).scale(-1, -1);
    const QPainterPath left = turn.map(right);
    QPainterPath outline = right;
    for (int i = 1; i < left.elementCount(); ++i) {
        const auto e = left.elementAt(i);
        if (e.isCurveTo()) {
            const auto c1 = left.elementAt(i + 1);
            const auto c2 = left.elementAt(i + 2);
            outline.cubicTo(e, c1, c2);
            i += 2;
        } else {
            outline.lineTo(e);
        }
    }
    outline.closeSubpath();
    return outline;
}

} // namespace

QPainterPath TimelineSeekIcon::path(const QRectF& rect) {
    static const QPainterPath design = designOutline();
    return QTransform()
        .translate(rect.left(), rect.top())
        .scale(rect.width() / 512, rect.height() / 512)
        .map(design);
}

} // namespace kavlo
