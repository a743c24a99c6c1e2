#include "app/window_contour_controller.h"

#include "app/dropped_file.h"
#include "app/x11_aspect_hints.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace kavlo {

namespace {

QSize toPixels(QSizeF size) {
    return {static_cast<int>(std::lround(size.width())),
            static_cast<int>(std::lround(size.height()))};
}

// Sizes are whole pixels on screen: a size within a pixel of the target is
// the target.
bool closeTo(QSizeF a, QSizeF b) {
    return std::abs(a.width() - b.width()) <= 1 && std::abs(a.height() - b.height()) <= 1;
}

} // namespace

WindowContourController::WindowContourController(QSizeF contentFloor, QObject* parent)
    : QObject(parent), contentFloor_(contentFloor) {
    settleTimer_.setSingleShot(true);
    settleTimer_.setInterval(kSettleMs);
    connect(&settleTimer_, &QTimer::timeout, this, &WindowContourController::settle);
}

WindowContourController::~WindowContourController() = default;

void WindowContourController::configure(QWidget* window, ContourShape shape, DropHandler onDrop) {
    dropHandler_ = std::move(onDrop);
    const ContourShape sanitized = shape.sanitized();
    const bool changed = sanitized.differsFrom(shape_);
    shape_ = sanitized;
    if (changed && window_)
        refit();
    if (!window || window == window_)
        return;
    attach(window);
}

void WindowContourController::attach(QWidget* window) {
    if (window_) {
        window_->removeEventFilter(this);
        hints_.reset();
    }
    window_ = window;
    window_->installEventFilter(this);
    window_->setAcceptDrops(true);
    applySizeLimits();
    if (!didResetInitialWindowSize_) {
        didResetInitialWindowSize_ = true;
        resetInitialWindowSize();
    }
    settledSize_ = window_->size();
    if (window_->windowHandle())
        updateHints();
}

std::optional<ScreenArea> WindowContourController::screenArea() const {
    QScreen* screen = window_ ? window_->screen() : nullptr;
    if (!screen)
        return std::nullopt;
    ScreenArea area{QRectF(screen->availableGeometry()), {}};
    if (window_->isVisible()) {
        const QRect frame = window_->frameGeometry();
        const QRect content = window_->geometry();
        area.frameMargins =
            QMarginsF(content.left() - frame.left(), content.top() - frame.top(),
                      frame.right() - content.right(), frame.bottom() - content.bottom());
    }
    return area;
}

WindowContourController::Limits WindowContourController::limits() const {
    const std::optional<ScreenArea> screen = screenArea();
    const QSize minimum = toPixels(minimumContentSize(shape_, screen).expandedTo(contentFloor_));
    const QSize maximum = screen ? screen->contentSize().toSize().expandedTo(minimum)
                                 : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return {minimum, maximum};
}

QSizeF WindowContourController::withinLimits(QSizeF content) const {
    const Limits bounds = limits();
    return QSizeF(toPixels(content).expandedTo(bounds.minimum).boundedTo(bounds.maximum));
}

void WindowContourController::applySizeLimits() {
    const Limits bounds = limits();
    window_->setMinimumSize(bounds.minimum);
    window_->setMaximumSize(bounds.maximum);
}

void WindowContourController::refit() {
    // A window resizes itself at once to fit new limits, without moving:
    // the limits are widened to the current size for the fit, which also
    // places the window, and only then set.
    const Limits bounds = limits();
    window_->setMinimumSize(bounds.minimum.boundedTo(window_->size()));
    window_->setMaximumSize(bounds.maximum.expandedTo(window_->size()));
    // The window manager holds the new size to the aspect it was given.
    updateHints();
    fitWindowToAspect();
    applySizeLimits();
}

void WindowContourController::fitWindowToAspect() {
    if (settling_ || window_->isMaximized() || window_->isFullScreen())
        return;
    const std::optional<ScreenArea> screen = screenArea();
    const QSizeF content = withinLimits(fittedContentSize(shape_, window_->width(), screen));
    const QMarginsF margins = screen ? screen->frameMargins : QMarginsF();
    const QSizeF frameSize = content.grownBy(margins);
    if (sameFrameSize(window_->frameGeometry().size(), frameSize))
        return;
    setContentGeometry(refittedFrame(window_->frameGeometry(), frameSize, screen), content,
                       margins);
}

void WindowContourController::resetInitialWindowSize() {
    const std::optional<ScreenArea> screen = screenArea();
    const QSizeF content = withinLimits(fittedContentSize(shape_, kMinimumContentWidth, screen));
    const QMarginsF margins = screen ? screen->frameMargins : QMarginsF();
    setContentGeometry(initialFrame(window_->frameGeometry(), content.grownBy(margins), screen),
                       content, margins);
}

void WindowContourController::fitFirstFrameToScreen() {
    // The first size was chosen before the window manager framed the
    // window, without its title bar: a window as tall as the screen's room
    // would stand out below it. With the frame known now, size it again.
    if (!window_ || !window_->isVisible() || window_->isMaximized() || window_->isFullScreen())
        return;
    const QScreen* screen = window_->screen();
    if (!screen || screen->availableGeometry().contains(window_->frameGeometry()))
        return;
    // The limits set at the show were taken without the frame too: left as
    // they are, the minimum height would keep the window as tall as before.
    applySizeLimits();
    resetInitialWindowSize();
}

void WindowContourController::setContentGeometry(const QRectF& frame, QSizeF content,
                                                 const QMarginsF& margins) {
    settledSize_ = content;
    // A window not shown yet is only sized; the window manager places it.
    if (!window_->isVisible()) {
        window_->resize(toPixels(content));
    } else {
        window_->setGeometry(
            QRect((frame.topLeft() + QPointF(margins.left(), margins.top())).toPoint(),
                  toPixels(content)));
    }
    emit refitted();
}

void WindowContourController::resized() {
    if (window_->isMaximized() || window_->isFullScreen())
        return;
    const QSizeF size = window_->size();
    const QSizeF onShape = withinLimits(fittedContentSize(shape_, size.width(), screenArea()));
    if (closeTo(size, onShape)) {
        settling_ = false;
        settleTimer_.stop();
        settledSize_ = size;
        return;
    }
    settling_ = true;
    settleTimer_.start();
}

void WindowContourController::settle() {
    if (!window_)
        return;
    if (X11AspectHints::pointerButtonsHeld()) {
        settleTimer_.start(); // the user is still dragging
        return;
    }
    settling_ = false;
    const std::optional<ScreenArea> screen = screenArea();
    const QSizeF size = window_->size();
    const QSizeF reference = settledSize_.isEmpty() ? size : settledSize_;
    const QSizeF content = withinLimits(lockedResize(shape_, size, reference, screen));
    if (closeTo(size, content)) {
        settledSize_ = size;
        return;
    }
    const QMarginsF margins = screen ? screen->frameMargins : QMarginsF();
    setContentGeometry(refittedFrame(window_->frameGeometry(), content.grownBy(margins), screen),
                       content, margins);
}

void WindowContourController::updateHints() {
    if (!window_ || !window_->windowHandle())
        return;
    if (!hints_) {
        hints_ = X11AspectHints::create(window_->windowHandle());
        if (!hints_)
            return;
        connect(window_->windowHandle(), &QWindow::screenChanged, this,
                &WindowContourController::refit);
    }
    // Where even the narrowest window is cut to the screen, no window keeps
    // the shape; asking the window manager to would push it off the screen.
    if (shapeFitsScreen(shape_, screenArea()))
        hints_->set(shape_.aspect, {shape_.horizontalInset, shape_.verticalExtra});
    else
        hints_->clear();
}

bool WindowContourController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        applySizeLimits();
        updateHints();
        if (!checkedFirstFrame_) {
            checkedFirstFrame_ = true;
            // The frame arrives from the window manager some time after the show.
            for (int ms : {150, 600})
                QTimer::singleShot(ms, this, &WindowContourController::fitFirstFrameToScreen);
        }
        break;
    case QEvent::Resize:
        resized();
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData() && droppedFile(*drag->mimeData()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const auto file = drop->mimeData() ? droppedFile(*drop->mimeData()) : std::nullopt;
        if (!file) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (dropHandler_)
            dropHandler_(*file);
        return true;
    }
    default:
        break;
    }
    return false;
}

WindowContourView::WindowContourView(WindowContourController* controller, QWidget* parent)
    : QWidget(parent), controller_(controller) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
}

void WindowContourView::setParameters(ContourShape shape, DropHandler onDrop) {
    shape_ = shape;
    onDrop_ = std::move(onDrop);
    const bool same = givenWindow_ == window() && givenShape_ && !shape_.differsFrom(*givenShape_);
    if (same || scheduled_)
        return;
    if (!window()->isVisible()) {
        handOver();
        return;
    }
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &WindowContourView::handOver, Qt::QueuedConnection);
}

void WindowContourView::handOver() {
    scheduled_ = false;
    const bool same = givenWindow_ == window() && givenShape_ && !shape_.differsFrom(*givenShape_);
    if (same)
        return;
    givenWindow_ = window();
    givenShape_ = shape_;
    controller_->configure(window(), shape_, onDrop_);
}

bool WindowContourView::event(QEvent* event) {
    // Placed in a (new) window: hand over at once, so that a window not yet
    // shown takes its first size before it appears.
    if (event->type() == QEvent::ParentChange && givenShape_)
        handOver();
    return QWidget::event(event);
}

} // namespace kavlo
