// The WebP entry point of the renderer: one forward-and-backward cycle of the
// selected segment at its full upright size, as a lossy animated WebP that
// loops forever.
#pragma once

#include "render/cycle_timing.h"
#include "render/render_types.h"
#include "render/webp_writer.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace kavlo {

// WebP durations are whole milliseconds, up to 24 bits of them. Browsers
// show a duration of 10 ms or less as 100 ms, so none is shorter than 11.
inline constexpr CycleClock kWebpClock{1000, 11, 0xffffff};

struct WebpRenderOptions {
    WebpSettings webp;
    // A source larger than this box is read scaled down to fit inside it;
    // {0, 0}: the source's own size.
    RenderSize fitWithin;
    // The file's size, larger than the picture: the picture is centred in
    // it and the margins stay transparent. {0, 0}: the picture's size.
    RenderSize canvas;
    // At most this many pictures a second, others left out evenly; 0: as
    // the source and speed give.
    double maxFrameRate = 0;
    // As RenderOptions::availableMemory.
    std::optional<uint64_t> availableMemory;
};

// Reads [trimStart, trimEnd] of sourcePath at the track's nominal frame rate
// (at least 1; 30 when it has none) and writes one ping-pong cycle to
// outputPath, each picture meant to last 1 / (rate * max(speed, 0.01))
// seconds, scheduled on kWebpClock (see cycleTimings: the cycle keeps its
// exact length in milliseconds). Progress: reading 0 to 0.45, encoding up to
// 1.0. Runs on the calling thread; throws Error on failure (codes 1, 4, 30,
// 31, 32, 33, 34, 35 of the renderer, or a media error) and Cancelled when
// `stop` is requested. Written under a temporary name and moved over
// outputPath only once complete, as the other formats are.
RenderResult renderPingPongWebP(const std::filesystem::path& sourcePath,
                                const std::filesystem::path& outputPath, double trimStart,
                                double trimEnd, double speed, const ProgressCallback& progress,
                                std::stop_token stop = {}, const WebpRenderOptions& options = {});

} // namespace kavlo
