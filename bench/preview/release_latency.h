// The user's wait after letting go of the selection, with the app's own
// Model and players (offscreen).
#pragma once

#include "player/pixel_size.h"

#include <filesystem>
#include <string>

namespace kavlo::bench {

struct ReleaseFigures {
    // Best of the runs: from the release of a drag that moves a 1-second
    // selection to `start` (Model::moveLoop(start, false)) to the first
    // frame of the new preview reaching the view (previewPictures()'
    // frameChanged). Seconds.
    double wait = 0;
    // The longest the UI thread was busy (a 1 ms timer's lateness) from the
    // load through its thumbnails, every preview and a 1-loop MP4 export of
    // the last selection. Milliseconds.
    double longestStall = 0;
    // What the UI thread did meanwhile (UiStallWatch::longestCause()).
    std::string stallCause;
    std::string longestEvent; // UiStallWatch::longestEvent()
};

// The figures with the preview rendered for a video area of `area` device
// pixels (empty: no limit). Needs a TracedApplication<QGuiApplication>.
ReleaseFigures releaseToFirstFrame(const std::filesystem::path& source, double start,
                                   PixelSize area, int runs, const std::filesystem::path& tempDir);

} // namespace kavlo::bench
