#include "timeline/timeline_painting.h"

#include "timeline/timeline_icons.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kavlo {

QColor timelineAccentColor() {
    return QColor::fromRgbF(1.0f, 0.72f, 0.0f, 1.0f);
}

QPainterPath capsulePath(const QRectF& rect) {
    const double radius = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void fillSoftShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color,
                    double blurRadius, QPointF offset) {
    // Layers grown from -blurRadius to +blurRadius around the edge give a
    // linear fall-off. Each layer's alpha is chosen so that where all of them
    // overlap the colour reaches its full opacity.
    constexpr int kLayers = 4;
    QColor layer = color;
    layer.setAlphaF(static_cast<float>(1 - std::pow(1 - color.alphaF(), 1.0 / kLayers)));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(layer);
    for (int i = 0; i < kLayers; ++i) {
        const double grow = blurRadius * ((2.0 * i + 1) / kLayers - 1);
        const QRectF r = rect.translated(offset).adjusted(-grow, -grow, grow, grow);
        if (r.width() <= 0 || r.height() <= 0)
            continue;
        const double radius =
            std::clamp(cornerRadius + grow, 0.0, std::min(r.width(), r.height()) / 2);
        painter.drawRoundedRect(r, radius, radius);
    }
    painter.restore();
}

const QImage& TileImages::tile(const QImage& thumbnail, QSize pixels) {
    Entry& entry = tiles_[thumbnail.cacheKey()];
    entry.used = true;
    if (entry.tile.size() == pixels)
        return entry.tile;
    if (thumbnail.size() == pixels) {
        entry.tile = thumbnail;
        return entry.tile;
    }
    // Fill the box keeping the aspect ratio; crop what sticks out, centred.
    const QImage scaled =
        thumbnail.scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    entry.tile =
        scaled.copy((scaled.width() - pixels.width()) / 2, (scaled.height() - pixels.height()) / 2,
                    pixels.width(), pixels.height());
    return entry.tile;
}

void TileImages::dropUnused() {
    std::erase_if(tiles_, [](const auto& entry) { return !entry.second.used; });
    for (auto& [key, entry] : tiles_)
        entry.used = false;
}

namespace {

// Snaps an x to the device pixel grid.
double snapped(double x, double dpr) {
    return std::round(x * dpr) / dpr;
}

// The tile copied pixel for pixel (the painter draws on the strip's device
// pixels unfiltered), its left edge on the device pixel grid so that
// neighbouring tiles share an edge exactly and no seam shows.
void drawTile(QPainter& p, TileImages& tiles, const QImage& image, double left, double height,
              double dpr) {
    if (image.isNull())
        return;
    const int x = int(std::lround(left * dpr));
    const QSize pixels(std::max(1, int(std::lround((left + kTileWidth) * dpr)) - x),
                       std::max(1, int(std::lround(height * dpr))));
    p.drawImage(QRectF(x / dpr, 0, pixels.width() / dpr, pixels.height() / dpr),
                tiles.tile(image, pixels));
}

void drawSelection(QPainter& p, const SelectionGeometry& s) {
    const QColor accent = timelineAccentColor();
    const double h = s.stripHeight;
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    // Each handle is rounded on all four corners; a plain block over its
    // inner half squares off the corners that meet the selection.
    p.drawRoundedRect(s.startHandle(), 8, 8);
    p.fillRect(QRectF(s.left - kHandleWidth / 2, 0, kHandleWidth / 2, h), accent);
    p.drawRoundedRect(s.endHandle(), 8, 8);
    p.fillRect(QRectF(s.right, 0, kHandleWidth / 2, h), accent);
    p.fillRect(QRectF(s.left, 0, s.borderWidth(), 4), accent);
    p.fillRect(QRectF(s.left, h - 4, s.borderWidth(), 4), accent);

    const double cy = h / 2;
    p.setBrush(Qt::black);
    p.drawPath(ChevronIcon::left().path(QRectF(s.left - kHandleWidth / 2 - 9, cy - 9, 18, 18)));
    p.drawPath(ChevronIcon::right().path(QRectF(s.right + kHandleWidth / 2 - 9, cy - 9, 18, 18)));
}

constexpr double kPlayheadWidth = 4;
constexpr double kPlayheadShadowBlur = 2;

QRectF playheadMarker(const SelectionGeometry& s) {
    return {s.playheadX - kPlayheadWidth / 2, 0, kPlayheadWidth, s.stripHeight};
}

} // namespace

QImage renderPlayheadSprite(double stripHeight, double dpr) {
    const double grow = kPlayheadShadowBlur + 1;
    const QSizeF size(kPlayheadWidth + 2 * grow, stripHeight + 2 * grow);
    QImage image(static_cast<int>(std::ceil(size.width() * dpr)),
                 static_cast<int>(std::ceil(size.height() * dpr)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF marker(grow, grow, kPlayheadWidth, stripHeight);
    fillSoftShadow(p, marker, 2, QColor::fromRgbF(0, 0, 0, 0.45f), kPlayheadShadowBlur,
                   QPointF(0, 0));
    p.fillPath(capsulePath(marker), Qt::white);
    return image;
}

QRectF playheadBounds(const SelectionGeometry& s, double dpr) {
    // One more point each way for the antialiased edge; the corner on a
    // whole device pixel, so that the sprite is copied, never resampled.
    const double grow = kPlayheadShadowBlur + 1;
    const QRectF bounds = playheadMarker(s).adjusted(-grow, -grow, grow, grow);
    return {QPointF(snapped(bounds.left(), dpr), snapped(bounds.top(), dpr)), bounds.size()};
}

QImage renderTimelineStrip(const TimelineGeometry& g, const TimelineBarInputs& in, double dpr,
                           TileImages& tiles) {
    const QRectF strip = g.stripRect();
    // Rendered apart and then clipped with antialiased corners: a clip path
    // on the painter itself would leave the corners jagged.
    QImage image(std::max(1, static_cast<int>(std::ceil(strip.width() * dpr))),
                 std::max(1, static_cast<int>(std::ceil(strip.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);

    QPainter p(&image);
    p.fillRect(strip, Qt::black);
    if (in.thumbnails.empty()) {
        p.fillRect(strip, QColor::fromRgbF(0, 0, 0, 0.18f));
    } else {
        for (const TileSlot& slot : tileSlots(g, in.duration, in.thumbnails))
            drawTile(p, tiles, in.thumbnails[slot.thumbnail].image, slot.left, g.stripHeight, dpr);
    }
    tiles.dropUnused();
    if (in.isLoaded) {
        const SelectionGeometry s = selectionGeometry(g, in.start, in.end, in.playhead);
        const QColor dim = QColor::fromRgbF(0, 0, 0, 0.5f);
        p.fillRect(QRectF(0, 0, s.lo, g.stripHeight), dim);
        p.fillRect(QRectF(s.hi, 0, std::max(g.width - s.hi, 0.0), g.stripHeight), dim);
        p.setRenderHint(QPainter::Antialiasing);
        drawSelection(p, s);
    }

    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath corners;
    corners.addRect(strip);
    corners.addRoundedRect(strip, kStripCornerRadius, kStripCornerRadius);
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    p.fillPath(corners, Qt::black); // odd-even fill: only the four corners
    p.end();
    return image;
}

} // namespace kavlo
