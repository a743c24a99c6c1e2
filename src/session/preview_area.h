// When the area that shows the preview has outgrown the preview. A preview
// is rendered no larger than its area on screen (in device pixels) and made
// again when the area grows enough for a sharper one to show.
#pragma once

#include "player/pixel_size.h"

#include <chrono>

namespace kavlo {

// True when a preview rendered for an area of `rendered` would show visibly
// sharper rendered for `area`: there is room for a picture more than 2 %
// larger both ways (the picture keeps its shape, so it grows by the smaller
// of the two). An empty `rendered` area meant no limit: never outgrown.
bool previewAreaOutgrown(PixelSize rendered, PixelSize area);

// A window being resized grows its area step by step: the preview is made
// again once the area has stayed put this long.
inline constexpr std::chrono::milliseconds kPreviewResizeDelay{300};

} // namespace kavlo
