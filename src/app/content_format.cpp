#include "app/content_format.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

QSizeF videoAreaSize(QSizeF available, double videoAspect) {
    const double aspect = std::max(videoAspect, 0.05);
    const double width = std::max(available.width(), 1.0);
    const double availableHeight =
        std::max(available.height() - kPanelSpacing - kControlStackHeight, 1.0);
    return {std::min(aspect * availableHeight, width), std::min(width / aspect, availableHeight)};
}

QString timeReadout(double seconds) {
    // Rounded to the hundredths shown first, so that 59.996 reads 01:00.00
    // rather than 00:60.00.
    const double t = std::round(std::max(seconds, 0.0) * 100) / 100;
    const int minutes = static_cast<int>(t) / 60;
    return QString::asprintf("%02d:%05.2f", minutes, std::fmod(t, 60.0));
}

QString speedLabel(double speed) {
    if (speed == std::trunc(speed))
        return QString::asprintf("%.0fx", speed);
    return QString::asprintf("%gx", speed);
}

QString speedControlText(double speed) {
    return speedLabel(speed) + QStringLiteral(" speed");
}

QString loopItemText(int count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" loop") : QStringLiteral(" loops"));
}

} // namespace kavlo
