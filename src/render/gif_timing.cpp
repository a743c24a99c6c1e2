#include "render/gif_timing.h"

#include "render/cycle_timing.h"

namespace kavlo {

std::vector<GifFrameTiming> gifFrameTimings(std::size_t positions, double frameDelaySeconds,
                                            double maxFrameRate) {
    const std::vector<CycleTiming> cycle = cycleTimings(
        positions, frameDelaySeconds, {100, kMinGifDelay, kMaxGifDelay}, maxFrameRate);
    std::vector<GifFrameTiming> timings(cycle.size());
    for (std::size_t k = 0; k < cycle.size(); ++k)
        timings[k] = {cycle[k].position, cycle[k].ticks};
    return timings;
}

} // namespace kavlo
