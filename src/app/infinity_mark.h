// The application's mark: an infinity sign, the loop that plays forward and
// back, drawn in the accent colour. Shown above the welcome title and used
// for the window icon (resources/icons holds the same figure as SVG).
#pragma once

#include <QIcon>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace kavlo {

// The centre line of the figure, fitted into `rect` with room for the
// stroke: a lemniscate, its crossing at the centre.
QPainterPath infinityMarkPath(const QRectF& rect);
// The mark stroked into `rect` (46 x 24 above the welcome title).
void paintInfinityMark(QPainter& painter, const QRectF& rect);
// The application icon: the mark on a dark rounded square.
QIcon appIcon();

} // namespace kavlo
