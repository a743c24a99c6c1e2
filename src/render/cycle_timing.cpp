#include "render/cycle_timing.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

std::vector<CycleTiming> cycleTimings(std::size_t positions, double frameSeconds,
                                      const CycleClock& clock, double maxFrameRate) {
    if (positions == 0)
        return {};
    double exact = clock.ticksPerSecond * frameSeconds; // ticks per position
    if (!(exact > 0))
        exact = clock.minTicks;
    exact = std::min(exact, double(clock.maxTicks));
    const double cycle = exact * double(positions);

    // As many pictures as fit at minTicks each; the tolerance keeps an exact
    // fit (50 fps in hundredths: 2.0 per position) from losing a picture to
    // rounding.
    const double shortest =
        maxFrameRate > 0 ? std::max(double(clock.minTicks), clock.ticksPerSecond / maxFrameRate)
                         : double(clock.minTicks);
    std::size_t kept = positions;
    if (exact < shortest) {
        kept = static_cast<std::size_t>(std::floor(cycle / shortest + 1e-9));
        kept = std::clamp(kept, std::min<std::size_t>(positions, 2), positions);
    }
    const double spacing = cycle / double(kept);

    std::vector<CycleTiming> timings(kept);
    long long appears = 0;
    for (std::size_t k = 0; k < kept; ++k) {
        const long long next =
            k + 1 < kept ? std::llround(double(k + 1) * spacing) : std::llround(cycle);
        timings[k].position = k * positions / kept;
        timings[k].ticks =
            static_cast<int>(std::clamp<long long>(next - appears, clock.minTicks, clock.maxTicks));
        appears = next;
    }
    return timings;
}

} // namespace kavlo
