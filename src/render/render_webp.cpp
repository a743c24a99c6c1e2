#include "render/render_webp.h"

#include "media/colour.h"
#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/render_progress.h"

#include <algorithm>
#include <vector>

namespace kavlo {

RenderResult renderPingPongWebP(const std::filesystem::path& sourcePath,
                                const std::filesystem::path& outputPath, double trimStart,
                                double trimEnd, double speed, const ProgressCallback& progress,
                                std::stop_token stop, const WebpRenderOptions& options) {
    ExportFiles files(sourcePath, outputPath);
    PartialOutput& output = files.output;
    InputFile& source = files.source;
    RenderFrames segment =
        readRenderFrames(source, trimStart, trimEnd, progress, kWebpShares.read, stop,
                         /*fullChroma=*/false, options.availableMemory, options.fitWithin);
    const std::vector<Picture>& frames = segment.pictures;
    const RenderSize size = segment.size;
    const int frameCount = static_cast<int>(frames.size());

    // One cycle; the viewer's looping repeats it.
    const std::vector<int> sequence = pingPongIndexSequence(frameCount, 1);
    const std::vector<CycleTiming> timings =
        cycleTimings(sequence.size(), 1.0 / (segment.frameRate * std::max(speed, 0.01)), kWebpClock,
                     options.maxFrameRate);

    // The margins around a picture smaller than the canvas stay zero:
    // transparent black.
    const bool margins = options.canvas.width >= size.width &&
                         options.canvas.height >= size.height && !(options.canvas == size);
    const RenderSize canvas = margins ? options.canvas : size;
    WebpWriter writer(canvas.width, canvas.height, options.webp, /*transparent=*/margins);
    BgraConverter converter;
    const int stride = canvas.width * 4;
    std::vector<uint8_t> bgra(std::size_t(stride) * canvas.height);
    uint8_t* const picture = bgra.data() + std::size_t((canvas.height - size.height) / 2) * stride +
                             std::size_t((canvas.width - size.width) / 2) * 4;
    for (std::size_t k = 0; k < timings.size(); ++k) {
        throwIfCancelled(stop);
        converter.convert(frames[sequence[timings[k].position]], picture, stride);
        writer.add(bgra.data(), stride, timings[k].ticks);
        if (progress)
            progress(kWebpShares.read + (kWebpShares.cycle - kWebpShares.read) * double(k + 1) /
                                            double(timings.size()));
    }
    throwIfCancelled(stop);
    writer.finish(output.path());
    output.commit();
    if (progress)
        progress(1.0);
    return {frameCount, segment.frameRate, size};
}

} // namespace kavlo
