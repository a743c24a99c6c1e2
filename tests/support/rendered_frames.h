// What the renderer reads of a source, for the tests that hold the players,
// the thumbnails or the colour conversion against it. Header-only: it needs
// the render library, which the media helpers do not link.
#pragma once

#include "media/input_file.h"
#include "render/frame_reader.h"
#include "support/test_media.h"

#include <vector>

namespace kavlo::test {

// The pictures of the segment start...end sampled `rate` times a second, at
// the source's upright size.
inline std::vector<Picture> readRenderedSegment(const fs::path& path, double start, double end,
                                                double rate) {
    InputFile file(path.string());
    const RenderSize size = computeRenderSize(*file.info().video);
    return readSegmentFrames(file, start, end, rate, size.width, size.height, nullptr, 1.0);
}

// The index the renderer samples first when its segment starts at `t`, -1
// when it samples nothing.
inline int renderedIndexAt(const fs::path& path, double t) {
    const std::vector<Picture> pictures = readRenderedSegment(path, t, t + 0.001, 30);
    return pictures.empty() ? -1 : readFrameIndex(*pictures.front().frame());
}

} // namespace kavlo::test
