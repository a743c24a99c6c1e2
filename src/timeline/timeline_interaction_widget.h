// The transparent pointer layer laid exactly over the timeline strip. It
// turns presses and drags into handle trims and strip pans, and picks the
// cursor on every pointer motion. The bar creates it once and keeps it up to
// date with setView(); a drag in progress survives those updates, since its
// own callbacks cause them.
//
// Main (GUI) thread only. The callbacks run synchronously from the mouse
// event handlers, with one exception: a drag that loses its release (the
// window is deactivated or blocked by a modal dialog, or the layer is
// hidden) ends with its final `dragging == false` call posted to the event
// loop, so that a layer torn down with its window calls nobody. A press, or
// a motion with the button up, during a drag ends the lost drag at once.
#pragma once

#include "timeline/timeline_interaction.h"

#include <QWidget>

#include <optional>

namespace kavlo {

class TimelineInteractionWidget : public QWidget {
    Q_OBJECT

  public:
    explicit TimelineInteractionWidget(QWidget* parent = nullptr);

    // Replaces the values; the drag in progress, if any, is kept.
    void setView(const TimelineInteractionView& view);
    const TimelineInteractionView& view() const { return view_; }
    bool isDragging() const { return dragMode_.has_value(); }

    void setOnViewportStart(ViewportStartCallback callback);
    void setOnTrim(TrimCallback callback);
    void setOnMoveLoop(MoveLoopCallback callback);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void apply(double delta, bool dragging);
    void report(const TimelineEdit& edit, bool dragging);
    // Ends a drag whose release will not come: at once, or from the event loop.
    void endLostDrag();
    void endLostDragLater();
    void updateCursor(bool pressed, double x);

    TimelineInteractionView view_;
    std::optional<TimelineDragMode> dragMode_;
    double dragStartX_ = 0;
    double lastDelta_ = 0;           // of the last step reported
    std::optional<double> pointerX_; // last known pointer x while it is over the layer
    ViewportStartCallback onViewportStart_;
    TrimCallback onTrim_;
    MoveLoopCallback onMoveLoop_;
};

} // namespace kavlo
