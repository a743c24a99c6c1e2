#include "app/window_contour.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

ContourShape ContourShape::sanitized() const {
    return {std::max(aspect, kSmallestAspect), horizontalInset >= 0 ? horizontalInset : 0,
            verticalExtra >= 0 ? verticalExtra : 0};
}

bool ContourShape::differsFrom(const ContourShape& other) const {
    return std::abs(aspect - other.aspect) > kAspectThreshold ||
           std::abs(horizontalInset - other.horizontalInset) > kLengthThreshold ||
           std::abs(verticalExtra - other.verticalExtra) > kLengthThreshold;
}

double ContourShape::contentHeightForWidth(double width) const {
    return std::max((width - horizontalInset) / aspect + verticalExtra, 1.0);
}

double ContourShape::contentWidthForHeight(double height) const {
    return horizontalInset + aspect * (height - verticalExtra);
}

QSizeF ScreenArea::contentSize() const {
    return available.marginsRemoved(frameMargins).size();
}

QSizeF clampToScreen(const ContourShape& shape, QSizeF size,
                     const std::optional<ScreenArea>& screen) {
    if (!screen)
        return size;
    const QSizeF room = screen->contentSize();
    const double widest = std::min(
        std::max(shape.contentWidthForHeight(room.height()), kMinimumContentWidth), room.width());
    const double width = std::min(std::max(widest, 1.0), std::max(size.width(), 1.0));
    return {width, std::min(shape.contentHeightForWidth(width), room.height())};
}

QSizeF minimumContentSize(const ContourShape& shape, const std::optional<ScreenArea>& screen) {
    return clampToScreen(
        shape, {kMinimumContentWidth, shape.contentHeightForWidth(kMinimumContentWidth)}, screen);
}

bool shapeFitsScreen(const ContourShape& shape, const std::optional<ScreenArea>& screen) {
    const QSizeF minimum = minimumContentSize(shape, screen);
    return minimum.height() >= shape.contentHeightForWidth(minimum.width()) - 1;
}

QSizeF lockedResize(const ContourShape& shape, QSizeF proposed, QSizeF reference,
                    const std::optional<ScreenArea>& screen) {
    double width = 0;
    double height = 0;
    if (std::abs(proposed.height() - reference.height()) >
        std::abs(proposed.width() - reference.width())) {
        height = std::max(proposed.height(), shape.contentHeightForWidth(kMinimumContentWidth));
        width = std::max(shape.contentWidthForHeight(height), kMinimumContentWidth);
    } else {
        width = std::max(proposed.width(), kMinimumContentWidth);
        height = shape.contentHeightForWidth(width);
    }
    return clampToScreen(shape, {width, height}, screen);
}

QSizeF fittedContentSize(const ContourShape& shape, double width,
                         const std::optional<ScreenArea>& screen) {
    const double w = std::max(width, kMinimumContentWidth);
    return clampToScreen(shape, {w, shape.contentHeightForWidth(w)}, screen);
}

bool sameFrameSize(QSizeF a, QSizeF b) {
    return std::abs(a.width() - b.width()) <= kLengthThreshold &&
           std::abs(a.height() - b.height()) <= kLengthThreshold;
}

QRectF refittedFrame(const QRectF& current, QSizeF size, const std::optional<ScreenArea>& screen) {
    QRectF frame(current.topLeft(), size);
    if (screen) {
        const QRectF& area = screen->available;
        if (frame.bottom() > area.bottom())
            frame.moveBottom(area.bottom());
        if (frame.right() > area.right())
            frame.moveRight(area.right());
    }
    return frame;
}

QRectF initialFrame(const QRectF& current, QSizeF size, const std::optional<ScreenArea>& screen) {
    QRectF frame(current.topLeft(), size);
    if (screen) {
        const QRectF& area = screen->available;
        frame.moveLeft(std::min(std::max(frame.left(), area.left()), area.right() - size.width()));
        frame.moveTop(std::min(std::max(frame.top(), area.top()), area.bottom() - size.height()));
    }
    return frame;
}

} // namespace kavlo
