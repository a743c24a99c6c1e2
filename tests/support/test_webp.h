// An independent reader for the animated WebPs under test: libwebp's own
// animation decoder, which shares no code with the encoder's frame packing.
#pragma once

#include "support/test_gif.h"

#include <filesystem>
#include <vector>

namespace kavlo::test {

struct WebpAnimation {
    int width = 0;
    int height = 0;
    int loopCount = -1;
    std::vector<RgbPicture> pictures; // as composed, in order
    std::vector<int> durationsMs;     // of each picture
};

// Throws std::runtime_error when the file is not an animated WebP.
WebpAnimation decodeWebp(const std::filesystem::path& path);

} // namespace kavlo::test
