#include "session/preview_area.h"

#include <algorithm>

namespace kavlo {

bool previewAreaOutgrown(PixelSize rendered, PixelSize area) {
    if (rendered.isEmpty() || area.isEmpty())
        return false;
    constexpr double kVisibleGrowth = 1.02;
    return std::min(double(area.width) / rendered.width, double(area.height) / rendered.height) >
           kVisibleGrowth;
}

} // namespace kavlo
