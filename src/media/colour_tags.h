// How a picture's values are read as colours, as its file tags them.
#pragma once

namespace kavlo {

// FFmpeg's codes for each tag; callers pass them on (from the pictures to
// the encoder) without reading them.
struct ColourTags {
    int primaries = 0;
    int transfer = 0;
    int matrix = 0;
    int range = 0;
};

} // namespace kavlo
