// The GIF entry point of the renderer: one forward-and-backward cycle of the
// selected segment at its full upright size, as an animated GIF that loops
// forever.
#pragma once

#include "render/gif_quantizer.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace kavlo {

struct GifRenderOptions {
    GifColourSettings colour;
    // Threads that remap pictures while the calling thread writes them;
    // 0: one per core, at most 4.
    int threads = 0;
    // As RenderOptions::availableMemory.
    std::optional<uint64_t> availableMemory;
    // A source larger than this box is read scaled down to fit inside it;
    // {0, 0}: the source's own size.
    RenderSize fitWithin;
    // The file's size, larger than the picture: the picture is centred in
    // it and the margins stay transparent. {0, 0}: the picture's size.
    RenderSize canvas;
    // At most this many pictures a second, others left out evenly; 0: as
    // the source and speed give (see gifFrameTimings).
    double maxFrameRate = 0;
};

// Reads [trimStart, trimEnd] of sourcePath at the track's nominal frame rate
// (at least 1; 30 when it has none) and writes one ping-pong cycle to
// outputPath, each picture meant to last 1 / (rate * max(speed, 0.01))
// seconds (see gifFrameTimings for how that becomes GIF delays). Progress:
// reading, overlapped with making palettes and writing (kGifShares of
// render_progress.h); reports never step back. Runs on the
// calling thread; throws Error on failure (codes 1, 4, 7, 8, 9, 30, 31, 32
// of the renderer, or a media error) and Cancelled when `stop` is
// requested. As with renderPingPongVideo, the GIF is written under a
// temporary name and replaces an existing file at outputPath only once
// complete; a failure leaves that file as it was.
RenderResult renderPingPongGIF(const std::filesystem::path& sourcePath,
                               const std::filesystem::path& outputPath, double trimStart,
                               double trimEnd, double speed, const ProgressCallback& progress,
                               std::stop_token stop = {}, const GifRenderOptions& options = {});

} // namespace kavlo
