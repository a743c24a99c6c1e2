#include "render/render_gif.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "render/frame_reader.h"
#include "render/gif_frame_queue.h"
#include "render/gif_timing.h"
#include "render/gif_writer.h"
#include "render/ping_pong.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace kavlo {

namespace {

constexpr double kReadShare = 0.45;

int workerCount(int requested) {
    if (requested > 0)
        return requested;
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

} // namespace

RenderResult renderPingPongGIF(const std::filesystem::path& sourcePath,
                               const std::filesystem::path& outputPath, double trimStart,
                               double trimEnd, double speed, const ProgressCallback& progress,
                               std::stop_token stop, const GifRenderOptions& options) {
    checkOutputIsNotSource(sourcePath, outputPath);
    PartialOutput output(outputPath);
    InputFile source(sourcePath.string());
    // Colours for the palette come from the source's full colour resolution.
    RenderFrames segment =
        readRenderFrames(source, trimStart, trimEnd, progress, kReadShare, stop,
                         /*fullChroma=*/true, options.availableMemory, options.fitWithin);
    std::vector<Picture>& frames = segment.pictures;
    const RenderSize size = segment.size;
    const double frameRate = segment.frameRate;
    const int frameCount = static_cast<int>(frames.size());

    // One cycle; the viewer's looping repeats it.
    const std::vector<int> sequence = pingPongIndexSequence(frameCount, 1);
    const std::vector<GifFrameTiming> timings = gifFrameTimings(
        sequence.size(), 1.0 / (frameRate * std::max(speed, 0.01)), options.maxFrameRate);

    // The frame each written picture shows, the frames in order of first
    // showing, and the last picture that shows each frame.
    constexpr std::size_t kUnused = std::size_t(-1);
    std::vector<int> shown(timings.size());
    std::vector<int> distinct;
    std::vector<std::size_t> lastShowing(frames.size(), kUnused);
    for (std::size_t k = 0; k < timings.size(); ++k) {
        shown[k] = sequence[timings[k].position];
        if (lastShowing[shown[k]] == kUnused)
            distinct.push_back(shown[k]);
        lastShowing[shown[k]] = k;
    }

    const RenderSize canvas =
        options.canvas.width >= size.width && options.canvas.height >= size.height ? options.canvas
                                                                                   : size;
    GifWriter writer(output.path(), size.width, size.height, options.colour.keepDistance, canvas,
                     (canvas.width - size.width) / 2, (canvas.height - size.height) / 2);

    const GifColourSettings& colour = options.colour;
    std::vector<int> learnt;
    if (colour.sharedPalette) {
        const std::size_t count =
            std::min<std::size_t>(distinct.size(), std::max(colour.learnedPictures, 1));
        for (std::size_t i = 0; i < count; ++i)
            learnt.push_back(distinct[i * distinct.size() / count]);
    }
    const double steps = double(learnt.size() + timings.size());
    double done = 0;
    auto stepDone = [&] {
        if (progress)
            progress(kReadShare + (1.0 - kReadShare) * (++done / steps));
    };

    std::optional<GifPalette> palette;
    if (colour.sharedPalette) {
        GifPaletteLearner learner(colour, stop);
        for (int f : learnt) {
            learner.learn(frames[f]);
            stepDone();
        }
        palette = learner.palette();
    }

    // Each distinct frame is remapped once, in order of first showing, and
    // kept in palette form until its last showing (a frame of the forward
    // run shows again on the way back).
    std::vector<Picture> pictures;
    for (int f : distinct)
        pictures.push_back(std::move(frames[f]));
    frames.clear();
    GifFrameQueue queue(std::move(pictures), colour, palette ? &*palette : nullptr,
                        workerCount(options.threads), stop);
    std::vector<std::optional<IndexedFrame>> indexed(lastShowing.size());
    for (std::size_t k = 0; k < timings.size(); ++k) {
        throwIfCancelled(stop);
        const int f = shown[k];
        if (!indexed[f])
            indexed[f] = queue.next();
        writer.add(*indexed[f], timings[k].delay);
        if (lastShowing[f] == k)
            indexed[f].reset();
        stepDone();
    }
    writer.finish();
    output.commit();
    return {frameCount, frameRate, size};
}

} // namespace kavlo
