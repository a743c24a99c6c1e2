// The window's colours and text sizes, shared by its views. The sizes are
// relative to the widget's own font (the "body" size), so that they follow
// the desktop's font settings.
#pragma once

#include <QColor>
#include <QFont>

namespace kavlo {

inline const QColor kSecondaryText = QColor::fromRgbF(1, 1, 1, 0.55f);
inline const QColor kAccent = QColor::fromRgbF(1.0f, 0.72f, 0.0f);

// `base` scaled by `factor`, whether it is sized in points or pixels.
QFont scaledFont(const QFont& base, double factor);
// The small text under the timeline.
inline QFont captionFont(const QFont& base) {
    return scaledFont(base, 11.0 / 13.0);
}
// The welcome title.
QFont titleFont(const QFont& base);

} // namespace kavlo
