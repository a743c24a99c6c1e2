#include "session/preview_mapping.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

double previewTimeFor(const PreviewMapping& m, double sourceTime) {
    const double fps = std::max(m.fps, 1.0);
    const int lastFrame = std::max(m.sourceFrames - 1, 0);
    const double offset = std::max(sourceTime - m.trimStart, 0.0) * fps;
    // Held before rounding, so that no time, however far, overflows the int.
    const int k = static_cast<int>(std::lround(std::min(offset, static_cast<double>(lastFrame))));
    return k / (std::max(m.speed, 0.01) * fps);
}

double playheadFor(const PreviewMapping& m, double playerTime, double selectionEnd) {
    const double span = std::max(m.sourceFrames - 1, 1) / std::max(m.fps, 1.0);
    const double cycle = std::max(2 * span, 0.001);
    const double q = std::fmod(playerTime * m.speed, cycle);
    const double position = q <= span ? q : cycle - q;
    return std::min(position + m.trimStart, selectionEnd);
}

} // namespace kavlo
