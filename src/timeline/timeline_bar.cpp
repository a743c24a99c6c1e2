#include "timeline/timeline_bar.h"

#include "timeline/timeline_interaction_widget.h"
#include "timeline/timeline_viewport_scrollbar.h"

#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace kavlo {

TimelineBar::TimelineBar(QWidget* parent)
    : QWidget(parent), interaction_(new TimelineInteractionWidget(this)),
      scrollbar_(new TimelineViewportScrollbar(this)), playheadTimer_(new QTimer(this)) {
    playheadTimer_->setSingleShot(true);
    playheadTimer_->setTimerType(Qt::PreciseTimer);
    connect(playheadTimer_, &QTimer::timeout, this, &TimelineBar::showPlayhead);
    auto setViewport = [this](double v) { setViewportStart(v); };
    auto moveLoop = [this](double start, bool dragging) { onMoveLoop(start, dragging); };
    interaction_->setOnViewportStart(setViewport);
    interaction_->setOnMoveLoop(moveLoop);
    interaction_->setOnTrim([this](TrimHandle handle, double time, bool dragging) {
        // Called through a copy: the owner may replace the callback from
        // inside it.
        if (auto onTrim = onTrim_)
            onTrim(handle, time, dragging);
    });
    scrollbar_->setOnViewportStart(setViewport);
    scrollbar_->setOnMoveLoop(moveLoop);
    updateChildren();
}

void TimelineBar::setInputs(TimelineBarInputs inputs) {
    const bool rezoomed =
        inputs.duration != inputs_.duration || inputs.maxLoopDuration != inputs_.maxLoopDuration;
    // The playhead is not part of the strip image.
    const bool stripInputsKept = !rezoomed && inputs.start == inputs_.start &&
                                 inputs.end == inputs_.end && inputs.isLoaded == inputs_.isLoaded;
    inputs_ = std::move(inputs);
    if (rezoomed)
        resetViewport();
    updateChildren();
    if (stripInputsKept && !strip_.isNull() && visibleTiles() == drawnTiles_) {
        showPlayhead();
        return;
    }
    invalidateStrip();
}

std::vector<std::pair<int, qint64>> TimelineBar::visibleTiles() const {
    const double dpr = devicePixelRatioF();
    std::vector<std::pair<int, qint64>> tiles;
    for (const TileSlot& slot : tileSlots(layoutGeometry(), inputs_.duration, inputs_.thumbnails))
        tiles.emplace_back(int(std::lround(slot.left * dpr)),
                           inputs_.thumbnails[slot.thumbnail].image.cacheKey());
    return tiles;
}

void TimelineBar::setPlayhead(double playhead) {
    if (playhead == inputs_.playhead)
        return;
    inputs_.playhead = playhead;
    if (!inputs_.isLoaded)
        return;
    // While the preview loops this runs 120 times a second, often for a
    // move of less than a device pixel and faster than the screen shows:
    // the marker is drawn again only where it lands elsewhere, at most once
    // a refresh. A tick early by a quarter of the refresh still counts; a
    // move held back is shown by the timer if no tick follows.
    if (playheadBounds() == shownPlayhead_) {
        playheadTimer_->stop();
        return;
    }
    const double refreshRate = screen() ? screen()->refreshRate() : 0;
    const qint64 intervalMs = std::lround(1000 / (refreshRate >= 1 ? refreshRate : 60.0));
    const qint64 sinceShown = playheadShownAt_.isValid() ? playheadShownAt_.elapsed() : intervalMs;
    if (sinceShown * 4 < intervalMs * 3) {
        if (!playheadTimer_->isActive())
            playheadTimer_->start(int(intervalMs - sinceShown));
        return;
    }
    showPlayhead();
}

void TimelineBar::showPlayhead() {
    playheadTimer_->stop();
    const QRectF bounds = playheadBounds();
    if (!inputs_.isLoaded || bounds == shownPlayhead_)
        return;
    update(shownPlayhead_.toAlignedRect());
    update(bounds.toAlignedRect());
    shownPlayhead_ = bounds;
    playheadShownAt_.start();
}

QRectF TimelineBar::playheadBounds() const {
    const SelectionGeometry s =
        selectionGeometry(layoutGeometry(), inputs_.start, inputs_.end, inputs_.playhead);
    return kavlo::playheadBounds(s, devicePixelRatioF());
}

void TimelineBar::invalidateStrip() {
    strip_ = QImage();
    update();
}

void TimelineBar::setOnTrim(TrimCallback callback) {
    onTrim_ = std::move(callback);
}

void TimelineBar::setOnMoveLoop(MoveLoopCallback callback) {
    onMoveLoop_ = std::move(callback);
}

TimelineGeometry TimelineBar::layoutGeometry() const {
    return timelineGeometry(width(), height(), inputs_.duration, inputs_.maxLoopDuration,
                            viewportStart_);
}

QSize TimelineBar::sizeHint() const {
    return {640, 80};
}

QSize TimelineBar::minimumSizeHint() const {
    return {0, 80};
}

void TimelineBar::paintEvent(QPaintEvent*) {
    const TimelineGeometry g = layoutGeometry();
    const double dpr = devicePixelRatioF();
    if (strip_.isNull() || strip_.devicePixelRatio() != dpr) {
        strip_ = renderTimelineStrip(g, inputs_, dpr, tiles_);
        drawnTiles_ = visibleTiles();
        // The strip is drawn anew only for a paint of the whole bar: the
        // playhead goes where it is now.
        shownPlayhead_ = playheadBounds();
    }
    QPainter painter(this);
    painter.drawImage(g.stripRect().topLeft(), strip_);
    if (!inputs_.isLoaded)
        return;
    if (playheadSprite_.isNull() || playheadSprite_.devicePixelRatio() != dpr ||
        playheadSpriteHeight_ != g.stripHeight) {
        playheadSprite_ = renderPlayheadSprite(g.stripHeight, dpr);
        playheadSpriteHeight_ = g.stripHeight;
    }
    painter.drawImage(shownPlayhead_.topLeft(), playheadSprite_);
}

void TimelineBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateChildren();
    invalidateStrip();
}

void TimelineBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        resetViewport();
        updateChildren();
        invalidateStrip();
    }
}

void TimelineBar::resetViewport() {
    viewportStart_ = resetViewportStart(inputs_.duration, inputs_.maxLoopDuration, inputs_.start);
}

void TimelineBar::setViewportStart(double viewportStart) {
    viewportStart_ = viewportStart;
    updateChildren();
    invalidateStrip();
}

void TimelineBar::onMoveLoop(double start, bool dragging) {
    if (auto onMoveLoop = onMoveLoop_)
        onMoveLoop(start, dragging);
}

void TimelineBar::updateChildren() {
    const TimelineGeometry g = layoutGeometry();

    interaction_->setGeometry(g.stripRect().toAlignedRect());
    // Without a video there is no pointer layer at all: no edits, no cursors.
    interaction_->setVisible(inputs_.isLoaded);
    interaction_->setView({
        .isLoaded = inputs_.isLoaded,
        .duration = inputs_.duration,
        .start = inputs_.start,
        .end = inputs_.end,
        .viewportStart = viewportStart_,
        .visibleStart = g.visibleStart,
        .visibleDuration = g.visibleDuration,
        .pixelsPerSecond = g.pixelsPerSecond,
        .startHandleCenter = g.startHandleCenter(inputs_.start),
        .endHandleCenter = g.endHandleCenter(inputs_.end),
        .handleWidth = kHandleWidth,
    });

    const QRectF bar = g.scrollbarRect();
    scrollbar_->setGeometry(static_cast<int>(std::round(bar.x())), static_cast<int>(bar.y()),
                            static_cast<int>(std::round(bar.width())),
                            static_cast<int>(bar.height()));
    scrollbar_->setInputs({
        .duration = inputs_.duration,
        .visibleDuration = g.visibleDuration,
        .viewportStart = g.visibleStart,
        .selectionStart = inputs_.start,
        .isLoaded = inputs_.isLoaded,
        .minimumThumbWidth = kMinimumThumbWidth,
    });
}

} // namespace kavlo
