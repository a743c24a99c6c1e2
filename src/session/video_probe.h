// What a load reads from a playable file: its length, frame rate and the
// size its pictures are shown at. Blocking; for a worker thread.
#pragma once

#include <filesystem>

namespace kavlo {

struct VideoProbe {
    double durationSeconds = 0;
    // As the file states it, before any default; 0 when unknown.
    double nominalFrameRate = 0;
    // The display size: coded size with the sample aspect ratio and the
    // display matrix (rotation) applied, each side at least 1; 16 x 9 when
    // the file does not give a size.
    double displayWidth = 16;
    double displayHeight = 9;

    double aspect() const { return displayWidth / displayHeight; }
};

// Throws kNoVideoTrackFound ("No video track found.") when the file has no
// video track, and the media layer's Error when it cannot be opened.
VideoProbe probeVideo(const std::filesystem::path& file);

} // namespace kavlo
