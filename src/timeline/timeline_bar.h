// The zoomable timeline under the video: a strip of thumbnail tiles showing
// at most maxLoopDuration seconds, the selection framed by two handles with
// everything outside it dimmed, the playhead, and the viewport scrollbar
// underneath.
//
// The bar never changes the selection itself: edits go out through onTrim
// and onMoveLoop. Its only state is the viewport start, moved by strip drags,
// by the scrollbar, and reset when it is first shown or when the duration or
// the zoom changes.
//
// The strip is drawn once per change of its inputs, size or viewport and
// kept; new thumbnails that leave every visible tile as it was (most of a
// long video's lie outside the view) draw nothing; the playhead, which moves up to 120 times a
// second while the preview loops, is drawn over it and changes through setPlayhead() alone.
//
// Main (GUI) thread only. The callbacks run synchronously from mouse event
// handlers and may call setInputs() straight back. A drag whose release
// never comes (the window deactivated or blocked by a dialog, the bar
// hidden) still ends with one call with `dragging` false, made from the
// event loop.
#pragma once

#include "timeline/timeline_geometry.h"
#include "timeline/timeline_painting.h"
#include "timeline/timeline_types.h"

#include <QElapsedTimer>
#include <QWidget>

class QTimer;

namespace kavlo {

class TimelineInteractionWidget;
class TimelineViewportScrollbar;

class TimelineBar : public QWidget {
    Q_OBJECT

  public:
    explicit TimelineBar(QWidget* parent = nullptr);

    void setInputs(TimelineBarInputs inputs);
    const TimelineBarInputs& inputs() const { return inputs_; }
    // Moves the playhead only: repaints its old and new places, nothing else,
    // and no more often than the screen refreshes.
    void setPlayhead(double playhead);
    void setOnTrim(TrimCallback callback);
    void setOnMoveLoop(MoveLoopCallback callback);

    // The raw viewport start; layoutGeometry().visibleStart is what is shown.
    double viewportStart() const { return viewportStart_; }
    TimelineGeometry layoutGeometry() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void resetViewport();
    void setViewportStart(double viewportStart);
    void updateChildren();
    void onMoveLoop(double start, bool dragging);
    void invalidateStrip();
    QRectF playheadBounds() const;
    void showPlayhead();

    TimelineBarInputs inputs_;
    // The tiles a strip drawn now would show: where each starts, in device
    // pixels, and which image it copies.
    std::vector<std::pair<int, qint64>> visibleTiles() const;

    QImage strip_; // renderTimelineStrip() of the current inputs; null when stale
    std::vector<std::pair<int, qint64>> drawnTiles_; // visibleTiles() when strip_ was drawn
    TileImages tiles_;
    QImage playheadSprite_;
    double playheadSpriteHeight_ = 0;
    double viewportStart_ = 0;
    bool shownOnce_ = false;
    TrimCallback onTrim_;
    MoveLoopCallback onMoveLoop_;
    TimelineInteractionWidget* interaction_;
    TimelineViewportScrollbar* scrollbar_;
    QRectF shownPlayhead_; // where the playhead is drawn: playheadBounds() when last shown
    QElapsedTimer playheadShownAt_;
    QTimer* playheadTimer_; // shows a move held back when no further one comes
};

} // namespace kavlo
