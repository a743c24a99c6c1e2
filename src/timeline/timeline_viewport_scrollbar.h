// The thin scrollbar under the timeline strip. Its thumb stands for the
// visible window within the whole video; dragging it, or pressing anywhere on
// the bar, scrolls the window and moves the selection by the same amount, so
// the selection keeps its place on the screen while the video slides beneath.
//
// Main (GUI) thread only. The callbacks run synchronously from the mouse
// event handlers, except for the final call of a drag that loses its
// release (window deactivated or blocked, bar hidden), which is posted to
// the event loop; a press during a drag ends the lost one at once.
#pragma once

#include "timeline/scroll_metrics.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_types.h"

#include <QWidget>

#include <optional>

namespace kavlo {

struct TimelineScrollbarInputs {
    double duration = 0;
    double visibleDuration = 1;
    double viewportStart = 0; // already clamped to the video
    double selectionStart = 0;
    bool isLoaded = false;
    double minimumThumbWidth = kMinimumThumbWidth;
};

// Taken at the first moment of a drag; every step is measured from it.
struct TimelineScrollbarDrag {
    double grabOffset = 0; // from the thumb's left edge to where the pointer took hold
    double baseSelectionStart = 0;
    double baseViewportStart = 0;
    double lastViewportStart = 0; // what the release repeats if the thumb can no longer travel
};

class TimelineViewportScrollbar : public QWidget {
    Q_OBJECT

  public:
    explicit TimelineViewportScrollbar(QWidget* parent = nullptr);

    void setInputs(const TimelineScrollbarInputs& inputs);
    const TimelineScrollbarInputs& inputs() const { return inputs_; }
    void setOnViewportStart(ViewportStartCallback callback);
    void setOnMoveLoop(MoveLoopCallback callback);

    ScrollMetrics metrics() const;
    bool isDragging() const { return drag_.has_value(); }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void change(double x, double gestureStartX);
    void end(double x);
    void report(double viewportStart, bool dragging);
    void reportFor(const TimelineScrollbarDrag& drag, double viewportStart, bool dragging);
    void endLostGesture();

    TimelineScrollbarInputs inputs_;
    std::optional<TimelineScrollbarDrag> drag_;
    std::optional<double> gestureStartX_; // set while the button is held
    ViewportStartCallback onViewportStart_;
    MoveLoopCallback onMoveLoop_;
};

} // namespace kavlo
