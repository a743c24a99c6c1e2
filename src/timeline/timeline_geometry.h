// Where things sit on the timeline bar, as plain functions of its size and
// inputs. Drawing, the pointer layer and the tests all read these, so what
// is drawn and what is hit can never disagree.
//
// Lengths are device-independent pixels with the origin at the bar's
// top-left corner; times are seconds.
#pragma once

#include "timeline/timeline_types.h"

#include <QRectF>
#include <QSize>

#include <span>
#include <vector>

namespace kavlo {

inline constexpr double kHandleWidth = 24; // each handle, and the track's inset on either side
inline constexpr double kTileWidth = 76;
inline constexpr double kScrollbarHeight = 10;
inline constexpr double kStackSpacing = 6; // between the strip and the scrollbar
inline constexpr double kStripCornerRadius = 8;
inline constexpr double kMinimumThumbWidth = 22;
inline constexpr double kMinimumVisibleSpan = 0.001;

// Everything the bar is told by its owner, apart from the two callbacks.
struct TimelineBarInputs {
    double duration = 0;
    double start = 0;
    double end = 0;
    double playhead = 0;
    double maxLoopDuration = 0;                // the widest span shown at once: the zoom
    std::vector<TimelineThumbnail> thumbnails; // in any order
    bool isLoaded = false;
};

// The time track and its mapping for one size and one set of inputs. The
// track runs from x = kHandleWidth to x = trackEnd, leaving room for a handle
// on either side.
struct TimelineGeometry {
    double width = 1; // W: the bar's width, at least 1
    double stripHeight = 1;
    double trackEnd = 25;
    double trackWidth = 1;
    double visibleDuration = kMinimumVisibleSpan;
    double maximumViewportStart = 0;
    double visibleStart = 0; // the viewport start, clamped to the video
    double pixelsPerSecond = 1;

    double x(double t) const { return kHandleWidth + (t - visibleStart) * pixelsPerSecond; }
    // x(t) held on the time track.
    double trackX(double t) const;
    // x(t) held where a handle beside it still fits inside the strip.
    double handleX(double t) const;
    double startHandleCenter(double start) const { return handleX(start) - kHandleWidth / 2; }
    double endHandleCenter(double end) const { return handleX(end) + kHandleWidth / 2; }

    QRectF stripRect() const { return {0, 0, width, stripHeight}; }
    // Spans the time track under the strip.
    QRectF scrollbarRect() const;
};

// visibleDuration: the zoom, never longer than the video, never zero.
double visibleDurationFor(double duration, double maxLoopDuration);

// viewportStart is the raw state; it is clamped into visibleStart here.
TimelineGeometry timelineGeometry(double barWidth, double barHeight, double duration,
                                  double maxLoopDuration, double viewportStart);

// The viewport start for a newly shown video or zoom: the selection start at
// the left edge, as far as the video's end allows.
double resetViewportStart(double duration, double maxLoopDuration, double start);

// The selection as drawn. The dims stop at the track ends (lo, hi); the
// handles' inner edges (left, right) stop where the handles still fit.
struct SelectionGeometry {
    double lo = 0;
    double hi = 0;
    double left = 0;
    double right = 0;
    double playheadX = 0; // confined to [lo, hi]
    double stripHeight = 1;

    QRectF startHandle() const { return {left - kHandleWidth, 0, kHandleWidth, stripHeight}; }
    QRectF endHandle() const { return {right, 0, kHandleWidth, stripHeight}; }
    double borderWidth() const { return right > left ? right - left : 0; }
};

SelectionGeometry selectionGeometry(const TimelineGeometry& g, double start, double end,
                                    double playhead);

// One tile of the strip: the thumbnail `thumbnail` (an index into the list)
// drawn in a kTileWidth-wide box whose left edge is at `left`.
struct TileSlot {
    double time = 0;
    double left = 0;
    int thumbnail = 0;
};

// Tiles are anchored to multiples of this step so that they slide with the
// viewport instead of being re-cut.
double secondsPerTile(double pixelsPerSecond);
int tileSlotCount(double width);

// The filled tile slots for the visible window, left to right. Only the
// slots that can be visible are considered, however long the video is.
std::vector<TileSlot> tileSlots(const TimelineGeometry& g, double duration,
                                std::span<const TimelineThumbnail> thumbnails);

// A tile's box in device pixels at `devicePixelRatio`: a thumbnail of
// exactly this size is drawn pixel for pixel.
QSize tilePixelSize(double stripHeight, double devicePixelRatio);

// The index of the thumbnail nearest to t (held in [0, duration]); ties go
// to the one listed first; -1 for an empty list.
int nearestThumbnail(std::span<const TimelineThumbnail> thumbnails, double t, double duration);

} // namespace kavlo
