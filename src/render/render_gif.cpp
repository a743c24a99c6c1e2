#include "render/render_gif.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "render/frame_reader.h"
#include "render/gif_frame_queue.h"
#include "render/gif_timing.h"
#include "render/gif_writer.h"
#include "render/memory_budget.h"
#include "render/ping_pong.h"
#include "render/render_progress.h"
#include "render/segment_feed.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace kavlo {

namespace {

int workerCount(int requested) {
    if (requested > 0)
        return requested;
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

// One cycle of a segment of some length as the GIF shows it.
struct GifCycle {
    std::vector<GifFrameTiming> timings;
    std::vector<int> shown;    // the frame each written picture shows
    std::vector<int> distinct; // the frames in order of first showing
    // The last written picture that shows each frame (kUnused: none).
    std::vector<std::size_t> lastShowing;
    std::vector<int> learnt; // the frames the shared palette is learnt from
    std::optional<GifPalette> palette;

    static constexpr std::size_t kUnused = std::size_t(-1);
};

GifCycle planCycle(int frameCount, double speed, double frameRate, double maxFrameRate,
                   const GifColourSettings& colour) {
    GifCycle cycle;
    // One cycle; the viewer's looping repeats it.
    const std::vector<int> sequence = pingPongIndexSequence(frameCount, 1);
    cycle.timings =
        gifFrameTimings(sequence.size(), 1.0 / (frameRate * std::max(speed, 0.01)), maxFrameRate);
    cycle.shown.resize(cycle.timings.size());
    cycle.lastShowing.assign(frameCount, GifCycle::kUnused);
    for (std::size_t k = 0; k < cycle.timings.size(); ++k) {
        const int f = cycle.shown[k] = sequence[cycle.timings[k].position];
        if (cycle.lastShowing[f] == GifCycle::kUnused)
            cycle.distinct.push_back(f);
        cycle.lastShowing[f] = k;
    }
    if (colour.sharedPalette) {
        const std::vector<int>& distinct = cycle.distinct;
        const std::size_t count =
            std::min<std::size_t>(distinct.size(), std::max(colour.learnedPictures, 1));
        for (std::size_t i = 0; i < count; ++i)
            cycle.learnt.push_back(distinct[i * distinct.size() / count]);
    }
    return cycle;
}

} // namespace

RenderResult renderPingPongGIF(const std::filesystem::path& sourcePath,
                               const std::filesystem::path& outputPath, double trimStart,
                               double trimEnd, double speed, const ProgressCallback& progress,
                               std::stop_token stop, const GifRenderOptions& options) {
    ExportFiles files(sourcePath, outputPath);
    PartialOutput& output = files.output;
    InputFile& source = files.source;
    // Colours for the palette come from the source's full colour resolution.
    const SegmentPlan plan =
        planSegment(source, trimStart, trimEnd, options.fitWithin, /*fullChroma=*/true);
    checkRenderMemory(plan.memoryFrames(), plan.size.width, plan.size.height,
                      options.availableMemory);
    const RenderSize size = plan.size;
    const int mostFrames = int(plan.expected);
    SegmentFeed feed(source, plan, stop, [mostFrames](int index, int read) {
        return neverShown(index, read, mostFrames);
    });
    OverlapProgress overall(progress, feed, kGifShares);
    const GifColourSettings& colour = options.colour;

    double steps = 1, done = 0;
    auto stepDone = [&] { overall.writing(++done / steps); };
    // Waits for picture `index` (nullptr: the segment has none), reporting
    // each picture read on the way.
    int next = 0;
    auto waitFor = [&](int index) -> const Picture* {
        for (; next <= index; ++next) {
            if (!feed.waitFor(next, stop))
                return nullptr;
            overall.writing(done / steps);
        }
        return feed.waitFor(index, stop);
    };
    // The shared palette is learnt while later pictures are still decoded.
    auto learnCycle = [&](int frameCount) {
        GifCycle cycle = planCycle(frameCount, speed, plan.frameRate, options.maxFrameRate, colour);
        steps = double(cycle.learnt.size() + cycle.timings.size());
        done = 0;
        if (colour.sharedPalette) {
            GifPaletteLearner learner(colour, stop);
            for (int f : cycle.learnt) {
                const Picture* picture = waitFor(f);
                if (!picture)
                    return cycle; // the segment is shorter
                learner.learn(*picture);
                stepDone();
            }
            cycle.palette = learner.palette();
        }
        waitFor(mostFrames); // to the segment's end
        return cycle;
    };
    SegmentPass pass = passOverSegment(feed, learnCycle, stop);
    const int frameCount = pass.frameCount;
    GifCycle& cycle = pass.result;
    const std::optional<GifPalette>& palette = cycle.palette;

    const RenderSize canvas =
        options.canvas.width >= size.width && options.canvas.height >= size.height ? options.canvas
                                                                                   : size;
    GifWriter writer(output.path(), size.width, size.height, colour.keepDistance, canvas,
                     (canvas.width - size.width) / 2, (canvas.height - size.height) / 2);

    // Each distinct frame is remapped once, in order of first showing, and
    // kept in palette form until its last showing (a frame of the forward
    // run shows again on the way back).
    std::vector<Picture> pictures;
    for (int f : cycle.distinct)
        pictures.push_back(feed.take(f));
    GifFrameQueue queue(std::move(pictures), colour, palette ? &*palette : nullptr,
                        workerCount(options.threads), stop);
    std::vector<std::optional<IndexedFrame>> indexed(cycle.lastShowing.size());
    // Where each frame stands in the order the queue held them, and the
    // pixels it held from the frame before there: between neighbours in
    // that order, in either direction, those pixels did not change.
    std::vector<std::size_t> heldAt(cycle.lastShowing.size(), GifCycle::kUnused);
    for (std::size_t i = 0; i < cycle.distinct.size(); ++i)
        heldAt[cycle.distinct[i]] = i;
    std::vector<PixelMask> held(cycle.lastShowing.size());
    for (std::size_t k = 0; k < cycle.timings.size(); ++k) {
        throwIfCancelled(stop);
        const int f = cycle.shown[k];
        if (!indexed[f]) {
            indexed[f] = queue.next();
            held[f] = std::move(indexed[f]->held);
        }
        const PixelMask* unchanged = nullptr;
        if (k > 0) {
            const int before = cycle.shown[k - 1];
            const int later = heldAt[f] > heldAt[before] ? f : before;
            const std::size_t gap = heldAt[f] > heldAt[before] ? heldAt[f] - heldAt[before]
                                                               : heldAt[before] - heldAt[f];
            if (gap == 1 && !held[later].empty())
                unchanged = &held[later];
        }
        writer.add(*indexed[f], cycle.timings[k].delay, unchanged);
        if (cycle.lastShowing[f] == k)
            indexed[f].reset();
        stepDone();
    }
    writer.finish();
    output.commit();
    return {frameCount, plan.frameRate, size};
}

} // namespace kavlo
