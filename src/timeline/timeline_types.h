// Values shared by the timeline and the editing session: which end of the
// selection an edit concerns, one image of the thumbnail strip, and the two
// callbacks through which the timeline reports edits. Times are seconds in
// the source video.
#pragma once

#include <QImage>
#include <QUuid>

#include <functional>

namespace kavlo {

enum class TrimHandle { start, end };

struct TimelineThumbnail {
    QUuid id;
    double time = 0; // seconds into the source
    QImage image;
};

// `dragging` is true for the press and every drag step, and false for the
// single final call made at release.
using TrimCallback = std::function<void(TrimHandle handle, double time, bool dragging)>;
using MoveLoopCallback = std::function<void(double start, bool dragging)>;
using ViewportStartCallback = std::function<void(double viewportStart)>;

} // namespace kavlo
