// The user's wait after letting go of the selection, with the app's own
// Model and players (offscreen).
#pragma once

#include "player/pixel_size.h"

#include <filesystem>

namespace kavlo::bench {

// Best of `runs`: from the release of a drag that moves a 1-second
// selection to `start` (Model::moveLoop(start, false)) to the first frame of
// the new preview reaching the view (previewPictures()' frameChanged), with
// the preview rendered for a video area of `area` device pixels (empty: no
// limit). Seconds. Needs a QGuiApplication.
double releaseToFirstFrame(const std::filesystem::path& source, double start, PixelSize area,
                           int runs, const std::filesystem::path& tempDir);

} // namespace kavlo::bench
