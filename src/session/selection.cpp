#include "session/selection.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {
// Rounds half away from zero and clamps to [lo, hi] before converting, so
// that huge, infinite or NaN times cannot overflow the integer.
int roundedFrame(double v, int lo, int hi) {
    if (!(v > lo))
        return lo;
    return v >= hi ? hi : static_cast<int>(std::round(v));
}
} // namespace

double Selection::maxLoopDuration() const {
    return std::min(duration, kMaxLoopSeconds);
}

double Selection::minLoopDuration() const {
    return 1.0 / std::max(fps, 1.0);
}

int Selection::totalFrames() const {
    return std::max(roundedFrame(duration * fps, 0, 1 << 30), 1);
}

int Selection::frameIndex(double t) const {
    return roundedFrame(fps * t, 0, totalFrames());
}

double Selection::timeForFrame(int i) const {
    return std::min(std::clamp(i, 0, totalFrames()) / std::max(fps, 1.0), duration);
}

void Selection::setStart(double t) {
    const double lower = std::max(end - maxLoopDuration(), 0.0);
    const double upper = std::max(end - minLoopDuration(), 0.0);
    start = std::min(upper, std::max(t, lower));
}

void Selection::setEnd(double t) {
    const double upper = std::min(start + maxLoopDuration(), duration);
    const double lower = std::min(start + minLoopDuration(), duration);
    end = std::max(lower, std::min(t, upper));
}

void Selection::moveTo(double t) {
    const double length = std::min(std::max(end - start, minLoopDuration()), maxLoopDuration());
    start = std::min(std::max(duration - length, 0.0), std::max(t, 0.0));
    end = std::min(start + length, duration);
}

double sessionFrameRate(double nominalFrameRate) {
    if (!(nominalFrameRate > 0))
        return 30.0;
    return std::max(nominalFrameRate, 1.0);
}

} // namespace kavlo
