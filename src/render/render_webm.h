// The WebM entry point of the renderer: the selected segment played forward
// and backward, loops times, as VP9 with, when the source has sound and it is
// kept, Opus sound that follows the picture as the MP4's does.
#pragma once

#include "media/webm_writer.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace kavlo {

struct WebmRenderOptions {
    Vp9Settings video;
    // A source larger than this box is read scaled down to fit inside it;
    // {0, 0}: the source's own size.
    RenderSize fitWithin;
    // At most this many pictures a second, others left out evenly; 0: only
    // the usual cap of written_rate.h.
    double maxFrameRate = 0;
    // Keep the source's sound; without it the file has no sound track.
    bool sound = true;
    // As RenderOptions::availableMemory.
    std::optional<uint64_t> availableMemory;
};

// Reads [trimStart, trimEnd] of sourcePath at the track's nominal frame rate
// (at least 1; 30 when it has none), and writes the ping-pong sequence to
// outputPath at frameRate * max(speed, 0.01) frames per second, capped as
// the MP4 is (written_rate.h). loops below 1 count as 1. The sound is the
// MP4's audio loop (audio_loop.h) at 48000 Hz, as long as the picture.
//
// Written under a temporary name and moved over outputPath only once
// complete, as the other formats are. Progress: reading 0 to 0.35, the
// sound to 0.40, the picture up to 1.0. Runs on the calling thread; throws
// Error on failure (the renderer's codes 1, 3, 4, 10 to 19, 24, 30 to 32, or
// a media error) and Cancelled when `stop` is requested.
RenderResult renderPingPongWebM(const std::filesystem::path& sourcePath,
                                const std::filesystem::path& outputPath, double trimStart,
                                double trimEnd, double speed, int loops,
                                const ProgressCallback& progress, std::stop_token stop = {},
                                const WebmRenderOptions& options = {});

} // namespace kavlo
