// Types shared by the renderer's entry points. Its error codes are in
// core/error_codes.h.
#pragma once

#include <functional>

namespace kavlo {

// A picture size in pixels.
struct RenderSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const RenderSize&, const RenderSize&) = default;
};

// What a render read: the number of frames of the segment and the rate at
// which they were sampled. The preview keeps both to map its time back to
// source time. Also the size the picture was written at, and whether that
// is smaller than the source's own to fit the area asked for.
struct RenderResult {
    int sourceFrameCount = 0;
    double frameRate = 0;
    RenderSize size;
    bool reduced = false;
};

// Receives the fraction 0...1 of the work done, on the rendering thread.
using ProgressCallback = std::function<void(double)>;

} // namespace kavlo
