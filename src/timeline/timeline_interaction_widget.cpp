#include "timeline/timeline_interaction_widget.h"

#include <QMouseEvent>

namespace kavlo {

TimelineInteractionWidget::TimelineInteractionWidget(QWidget* parent) : QWidget(parent) {
    // Cursors are chosen on every motion, buttons held or not.
    setMouseTracking(true);
}

void TimelineInteractionWidget::setView(const TimelineInteractionView& view) {
    view_ = normalizedView(view);
    // The handles may have moved under a resting pointer.
    if (pointerX_ && !dragMode_)
        updateCursor(false, *pointerX_);
}

void TimelineInteractionWidget::setOnViewportStart(ViewportStartCallback callback) {
    onViewportStart_ = std::move(callback);
}

void TimelineInteractionWidget::setOnTrim(TrimCallback callback) {
    onTrim_ = std::move(callback);
}

void TimelineInteractionWidget::setOnMoveLoop(MoveLoopCallback callback) {
    onMoveLoop_ = std::move(callback);
}

void TimelineInteractionWidget::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !view_.isLoaded)
        return;
    endLostDrag();
    const double x = event->position().x();
    pointerX_ = x;
    dragStartX_ = x;
    dragMode_ = hitTest(view_, x);
    apply(0, true);
    updateCursor(true, dragStartX_);
}

void TimelineInteractionWidget::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    const double x = event->position().x();
    pointerX_ = x;
    const bool pressed = event->buttons() & Qt::LeftButton;
    if (!pressed)
        endLostDrag();
    else if (view_.isLoaded)
        apply(x - dragStartX_, true);
    updateCursor(pressed, x);
}

void TimelineInteractionWidget::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !view_.isLoaded)
        return;
    const double x = event->position().x();
    pointerX_ = x;
    apply(x - dragStartX_, false);
    dragMode_.reset();
    updateCursor(false, x);
}

void TimelineInteractionWidget::leaveEvent(QEvent* event) {
    pointerX_.reset();
    QWidget::leaveEvent(event);
}

void TimelineInteractionWidget::hideEvent(QHideEvent* event) {
    // A hidden layer never sees the release of a drag it started. A layer is
    // also hidden while its window is destroyed, when its owner may be gone
    // already: hence the posted call.
    endLostDragLater();
    pointerX_.reset();
    QWidget::hideEvent(event);
}

bool TimelineInteractionWidget::event(QEvent* event) {
    // Another window took the pointer, or a modal dialog opened over this
    // one: the release will go elsewhere.
    if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::WindowBlocked)
        endLostDragLater();
    return QWidget::event(event);
}

void TimelineInteractionWidget::endLostDrag() {
    if (!dragMode_)
        return;
    apply(lastDelta_, false);
    dragMode_.reset();
}

void TimelineInteractionWidget::endLostDragLater() {
    if (!dragMode_)
        return;
    const TimelineEdit edit = applyDrag(view_, *dragMode_, lastDelta_);
    dragMode_.reset();
    QMetaObject::invokeMethod(
        this, [this, edit] { report(edit, false); }, Qt::QueuedConnection);
}

void TimelineInteractionWidget::apply(double delta, bool dragging) {
    if (!dragMode_)
        return;
    lastDelta_ = delta;
    report(applyDrag(view_, *dragMode_, delta), dragging);
}

void TimelineInteractionWidget::report(const TimelineEdit& edit, bool dragging) {
    // The callbacks re-enter setView() and may replace these very callbacks,
    // so each is called through a copy.
    if (const auto* trim = std::get_if<TrimEdit>(&edit)) {
        if (auto onTrim = onTrim_)
            onTrim(trim->handle, trim->time, dragging);
        return;
    }
    const auto& pan = std::get<PanEdit>(edit);
    view_.viewportStart = pan.viewportStart;
    if (auto onViewportStart = onViewportStart_)
        onViewportStart(pan.viewportStart);
    if (auto onMoveLoop = onMoveLoop_)
        onMoveLoop(pan.start, dragging);
}

void TimelineInteractionWidget::updateCursor(bool pressed, double x) {
    if (const auto shape = chooseCursor(view_, dragMode_, pressed, x))
        setCursor(*shape);
}

} // namespace kavlo
