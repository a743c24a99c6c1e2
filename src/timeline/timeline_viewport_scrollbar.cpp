#include "timeline/timeline_viewport_scrollbar.h"

#include "timeline/timeline_painting.h"

#include <QMouseEvent>
#include <QPainter>

namespace kavlo {

TimelineViewportScrollbar::TimelineViewportScrollbar(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Timeline scrollbar"));
}

void TimelineViewportScrollbar::setInputs(const TimelineScrollbarInputs& inputs) {
    inputs_ = inputs;
    update();
}

void TimelineViewportScrollbar::setOnViewportStart(ViewportStartCallback callback) {
    onViewportStart_ = std::move(callback);
}

void TimelineViewportScrollbar::setOnMoveLoop(MoveLoopCallback callback) {
    onMoveLoop_ = std::move(callback);
}

ScrollMetrics TimelineViewportScrollbar::metrics() const {
    return scrollMetrics(width(), inputs_.duration, inputs_.visibleDuration, inputs_.viewportStart,
                         inputs_.minimumThumbWidth);
}

QSize TimelineViewportScrollbar::sizeHint() const {
    return {200, static_cast<int>(kScrollbarHeight)};
}

void TimelineViewportScrollbar::paintEvent(QPaintEvent*) {
    const ScrollMetrics m = metrics();
    const double h = height();
    const bool loaded = inputs_.isLoaded;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF track(0, (h - 3) / 2, m.width, 3);
    p.fillPath(capsulePath(track), QColor::fromRgbF(1, 1, 1, loaded ? 0.18f : 0.08f));

    const QRectF thumb(m.thumbLeft, (h - 6) / 2, m.thumbWidth, 6);
    fillSoftShadow(p, thumb, 3, QColor::fromRgbF(0, 0, 0, 0.3f), 1, QPointF(0, 1));
    p.fillPath(capsulePath(thumb), QColor::fromRgbF(1, 1, 1, loaded ? 0.78f : 0.22f));
}

void TimelineViewportScrollbar::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    // A press begins a new gesture even if the release of the last one was
    // never seen; that one ends where it was last reported.
    if (drag_)
        report(drag_->lastViewportStart, false);
    drag_.reset();
    gestureStartX_ = event->position().x();
    change(*gestureStartX_, *gestureStartX_);
}

void TimelineViewportScrollbar::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (gestureStartX_)
        change(event->position().x(), *gestureStartX_);
}

void TimelineViewportScrollbar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !gestureStartX_)
        return;
    gestureStartX_.reset();
    end(event->position().x());
}

void TimelineViewportScrollbar::hideEvent(QHideEvent* event) {
    endLostGesture();
    QWidget::hideEvent(event);
}

bool TimelineViewportScrollbar::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::WindowBlocked)
        endLostGesture();
    return QWidget::event(event);
}

void TimelineViewportScrollbar::endLostGesture() {
    gestureStartX_.reset();
    if (!drag_)
        return;
    // Posted: the bar is also hidden while its window is destroyed, when
    // whoever the callbacks reach may be gone already.
    const TimelineScrollbarDrag drag = *drag_;
    drag_.reset();
    QMetaObject::invokeMethod(
        this, [this, drag] { reportFor(drag, drag.lastViewportStart, false); },
        Qt::QueuedConnection);
}

void TimelineViewportScrollbar::change(double x, double gestureStartX) {
    const ScrollMetrics m = metrics();
    if (!inputs_.isLoaded || !m.canScroll())
        return;
    if (!drag_) {
        // A press on the track takes the thumb by its middle, so the thumb's
        // centre jumps to the pointer.
        const double grab =
            m.thumbContains(gestureStartX) ? gestureStartX - m.thumbLeft : m.thumbWidth / 2;
        drag_ = TimelineScrollbarDrag{grab, inputs_.selectionStart, inputs_.viewportStart,
                                      inputs_.viewportStart};
    }
    report(*m.viewportStartAt(x, drag_->grabOffset), true);
}

void TimelineViewportScrollbar::end(double x) {
    if (!drag_)
        return;
    // Should a relayout during the drag have left the thumb no travel, no
    // pointer position maps to a viewport start: the release then repeats
    // the last one reported, which keeps the selection where the user saw it.
    const double v =
        metrics().viewportStartAt(x, drag_->grabOffset).value_or(drag_->lastViewportStart);
    report(v, false);
    drag_.reset();
}

void TimelineViewportScrollbar::report(double viewportStart, bool dragging) {
    const TimelineScrollbarDrag drag = *drag_;
    drag_->lastViewportStart = viewportStart;
    reportFor(drag, viewportStart, dragging);
}

void TimelineViewportScrollbar::reportFor(const TimelineScrollbarDrag& drag, double viewportStart,
                                          bool dragging) {
    if (auto onViewportStart = onViewportStart_)
        onViewportStart(viewportStart);
    if (auto onMoveLoop = onMoveLoop_)
        onMoveLoop(drag.baseSelectionStart + viewportStart - drag.baseViewportStart, dragging);
}

} // namespace kavlo
