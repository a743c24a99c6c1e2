#include "app/appearance.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

QFont scaledFont(const QFont& base, double factor) {
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(base.pixelSize() * factor))));
    return font;
}

QFont titleFont(const QFont& base) {
    QFont font = scaledFont(base, 17.0 / 13.0);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace kavlo
