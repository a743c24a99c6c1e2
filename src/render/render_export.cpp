#include "render/render_export.h"

namespace kavlo {

RenderResult renderExport(const std::filesystem::path& sourcePath,
                          const std::filesystem::path& outputPath, double trimStart, double trimEnd,
                          double speed, const ExportSettings& settings,
                          const ProgressCallback& progress, std::stop_token stop) {
    switch (settings.format) {
    case ExportFormat::gif:
        return renderPingPongGIF(sourcePath, outputPath, trimStart, trimEnd, speed, progress, stop,
                                 settings.gif);
    case ExportFormat::webp:
        return renderPingPongWebP(sourcePath, outputPath, trimStart, trimEnd, speed, progress, stop,
                                  settings.webp);
    case ExportFormat::webm:
        return renderPingPongWebM(sourcePath, outputPath, trimStart, trimEnd, speed, settings.loops,
                                  progress, stop, settings.webm);
    case ExportFormat::mp4:
        break;
    }
    return renderPingPongVideo(sourcePath, outputPath, trimStart, trimEnd, speed, settings.loops,
                               progress, stop, settings.mp4);
}

} // namespace kavlo
