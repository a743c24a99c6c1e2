// Drawing for the timeline bar and its scrollbar. Positions come from the
// geometry functions; nothing here decides where anything goes.
#pragma once

#include "timeline/timeline_geometry.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>

#include <unordered_map>

class QPainter;

namespace kavlo {

// sRGB (1.0, 0.72, 0.0): the handles and the selection border.
QColor timelineAccentColor();

// A rounded rectangle whose radius is half its shorter side.
QPainterPath capsulePath(const QRectF& rect);

// A shadow of `color` under the rounded rectangle, blurred over
// `blurRadius` either side of its edge and moved by `offset`.
void fillSoftShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color,
                    double blurRadius, QPointF offset);

// Thumbnails as the strip draws them, each at the tile's size in device
// pixels. One made at that size is used as it is; any other is scaled
// once, not at every drawing of the strip.
class TileImages {
  public:
    const QImage& tile(const QImage& thumbnail, QSize pixels);
    // Drops the tiles not asked for since the last call.
    void dropUnused();

  private:
    struct Entry {
        QImage tile;
        bool used = true;
    };
    std::unordered_map<qint64, Entry> tiles_; // by the thumbnail's cacheKey()
};

// The strip without its playhead: background, tiles, dims and selection,
// clipped to its rounded corners, as an image of the strip's size at
// `devicePixelRatio` (that of the target, so nothing is scaled when drawn).
// The bar keeps it and draws the playhead over it, so that the playhead can
// move without the strip being drawn again.
QImage renderTimelineStrip(const TimelineGeometry& geometry, const TimelineBarInputs& inputs,
                           double devicePixelRatio, TileImages& tiles);

// The playhead marker with its shadow, `stripHeight` tall, as an image at
// `devicePixelRatio`. It is drawn once and copied to wherever the playhead
// is: painting the shadow anew at every move costs far more.
QImage renderPlayheadSprite(double stripHeight, double devicePixelRatio);
// Where that image goes for `selection`: everything the playhead touches,
// its shadow and antialiased edge included, with its top-left corner on a
// device pixel. The playhead stays within the selection, clear of the
// strip's rounded corners.
QRectF playheadBounds(const SelectionGeometry& selection, double devicePixelRatio);

} // namespace kavlo
