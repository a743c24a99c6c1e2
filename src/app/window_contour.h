// The window's shape as plain functions: the content area is the video at
// its aspect ratio plus a fixed inset beside it and a fixed extra below it,
// never narrower than 760, and the whole window stays inside the screen's
// available area. WindowContourController applies these to a real window.
//
// Sizes are device-independent pixels. Rectangles are screen coordinates
// with y growing downwards.
#pragma once

#include <QMarginsF>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace kavlo {

inline constexpr double kMinimumContentWidth = 760;
inline constexpr double kSmallestAspect = 0.05;
// Changes at or below these do not move the window, so repeated updates
// cannot make it jitter.
inline constexpr double kAspectThreshold = 0.0001;
inline constexpr double kLengthThreshold = 0.5;

struct ContourShape {
    double aspect = 16.0 / 9.0;  // video width / height
    double horizontalInset = 36; // content width beside the video
    double verticalExtra = 179;  // content height below and above the video

    bool operator==(const ContourShape&) const = default;

    // The aspect at least kSmallestAspect, negative lengths as 0.
    ContourShape sanitized() const;
    // Differs by more than the thresholds.
    bool differsFrom(const ContourShape& other) const;

    double contentHeightForWidth(double width) const; // at least 1
    double contentWidthForHeight(double height) const;
};

// The screen a window sits on, as the shape rules see it: the available
// area (without panels and docks) and the window's frame margins (title bar
// and borders), so that content sizes and frames convert both ways.
struct ScreenArea {
    QRectF available;
    QMarginsF frameMargins;
    // The content size of a window whose frame fills the available area.
    QSizeF contentSize() const;
};

// Whether a window of the minimum width keeps the shape on the screen; when
// not, every window of the shape is cut to the screen's height.
bool shapeFitsScreen(const ContourShape& shape, const std::optional<ScreenArea>& screen);

// The content size of `size` (the height is not used with a screen) made to
// fit the screen: the width no wider than the widest whose height fits, and
// never below 760 unless the screen is narrower; the height follows the
// width, cut to the screen. Without a screen, `size` unchanged.
QSizeF clampToScreen(const ContourShape& shape, QSizeF size,
                     const std::optional<ScreenArea>& screen);

// The smallest content size: 760 wide at the shape, as the screen allows.
QSizeF minimumContentSize(const ContourShape& shape, const std::optional<ScreenArea>& screen);

// The content size to take for a proposed size during a user's resize that
// began at `reference`: the edge dragged most decides, the other follows the
// aspect, never narrower than 760 nor taller than the screen.
QSizeF lockedResize(const ContourShape& shape, QSizeF proposed, QSizeF reference,
                    const std::optional<ScreenArea>& screen);

// The content size a window of content width `width` takes for the shape.
QSizeF fittedContentSize(const ContourShape& shape, double width,
                         const std::optional<ScreenArea>& screen);

// Frames within kLengthThreshold in both width and height.
bool sameFrameSize(QSizeF a, QSizeF b);

// After a change of shape: the new frame of `size` keeps the current top
// edge and left edge, moved up so it does not hang below the available area
// and left so it does not pass its right edge.
QRectF refittedFrame(const QRectF& current, QSizeF size, const std::optional<ScreenArea>& screen);
// The first size: the top-left kept where possible, the whole frame moved
// inside the available area.
QRectF initialFrame(const QRectF& current, QSizeF size, const std::optional<ScreenArea>& screen);

} // namespace kavlo
