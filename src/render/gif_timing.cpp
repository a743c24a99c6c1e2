#include "render/gif_timing.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

std::vector<GifFrameTiming> gifFrameTimings(std::size_t positions, double frameDelaySeconds,
                                            double maxFrameRate) {
    if (positions == 0)
        return {};
    double exact = 100.0 * frameDelaySeconds; // hundredths per position
    if (!(exact > 0))
        exact = kMinGifDelay;
    exact = std::min(exact, double(kMaxGifDelay));
    const double cycle = exact * double(positions);

    // As many pictures as fit at kMinGifDelay each; the tolerance keeps an
    // exact fit (50 fps: 2.0 per position) from losing a picture to rounding.
    const double shortest =
        maxFrameRate > 0 ? std::max(double(kMinGifDelay), 100.0 / maxFrameRate) : kMinGifDelay;
    std::size_t kept = positions;
    if (exact < shortest) {
        kept = static_cast<std::size_t>(std::floor(cycle / shortest + 1e-9));
        kept = std::clamp(kept, std::min<std::size_t>(positions, 2), positions);
    }
    const double spacing = cycle / double(kept);

    std::vector<GifFrameTiming> timings(kept);
    long long appears = 0;
    for (std::size_t k = 0; k < kept; ++k) {
        const long long next =
            k + 1 < kept ? std::llround(double(k + 1) * spacing) : std::llround(cycle);
        timings[k].position = k * positions / kept;
        timings[k].delay =
            static_cast<int>(std::clamp<long long>(next - appears, kMinGifDelay, kMaxGifDelay));
        appears = next;
    }
    return timings;
}

} // namespace kavlo
