// One entry point for every export format, so that what an export writes is
// a value (its format and each writer's settings) that callers can choose,
// store and adjust.
#pragma once

#include "core/export_format.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "render/render_webm.h"
#include "render/render_webp.h"

namespace kavlo {

struct ExportSettings {
    ExportFormat format = ExportFormat::mp4;
    // Cycles written by an MP4 or a WebM (below 1 counts as 1); a GIF or a
    // WebP holds one cycle that viewers repeat forever.
    int loops = 1;
    // Each format's own settings; only the chosen format's apply.
    RenderOptions mp4 = {};
    GifRenderOptions gif = {};
    WebpRenderOptions webp = {};
    WebmRenderOptions webm = {};
};

// Renders [trimStart, trimEnd] of sourcePath at `speed` to outputPath in the
// settings' format: renderPingPongVideo, renderPingPongGIF,
// renderPingPongWebP or renderPingPongWebM, whose notes say what each
// writes, reports and throws.
RenderResult renderExport(const std::filesystem::path& sourcePath,
                          const std::filesystem::path& outputPath, double trimStart, double trimEnd,
                          double speed, const ExportSettings& settings,
                          const ProgressCallback& progress, std::stop_token stop = {});

} // namespace kavlo
