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
// Main (GUI) thread only. The callbacks run synchronously from mouse event
// handlers and may call setInputs() straight back.
#pragma once

#include "timeline/timeline_geometry.h"
#include "timeline/timeline_types.h"

#include <QWidget>

namespace kavlo {

class TimelineInteractionWidget;
class TimelineViewportScrollbar;

class TimelineBar : public QWidget {
    Q_OBJECT

  public:
    explicit TimelineBar(QWidget* parent = nullptr);

    void setInputs(TimelineBarInputs inputs);
    const TimelineBarInputs& inputs() const { return inputs_; }
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

    TimelineBarInputs inputs_;
    double viewportStart_ = 0;
    bool shownOnce_ = false;
    TrimCallback onTrim_;
    MoveLoopCallback onMoveLoop_;
    TimelineInteractionWidget* interaction_;
    TimelineViewportScrollbar* scrollbar_;
};

} // namespace kavlo
