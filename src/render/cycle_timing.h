// When each picture of a cycle that a viewer loops is shown, on a clock of
// whole ticks (a GIF's hundredths, a WebP's milliseconds).
//
// A cycle written naively at the frame's rounded duration drifts (1/30 s
// stored as 33 ms plays 1 % fast, as 3 hundredths 10 %), and browsers show
// very short durations as a tenth of a second, so a cycle at too fine a
// duration crawls.
#pragma once

#include <cstddef>
#include <vector>

namespace kavlo {

struct CycleClock {
    int ticksPerSecond = 100;
    int minTicks = 1; // the shortest duration viewers honour
    int maxTicks = 65535;
};

struct CycleTiming {
    std::size_t position = 0; // position in the cycle whose picture is shown
    int ticks = 0;            // until the next picture
};

// Schedules a cycle of `positions` pictures, each meant to last
// `frameSeconds`. Picture k appears at round(k * exact ticks), so the
// rounding remainder is carried, every picture appears within half a tick of
// its exact time and the cycle keeps its exact length. Where the exact
// duration is below clock.minTicks, positions are left out evenly: the kept
// pictures are spaced equally over the cycle's exact length and each shows
// the position due at its time. At least two pictures are kept when the
// cycle has two, so a loop never collapses into a still; only then can the
// cycle run longer than exact.
// maxFrameRate, when above 0, leaves positions out the same way so that at
// most that many pictures a second are shown.
std::vector<CycleTiming> cycleTimings(std::size_t positions, double frameSeconds,
                                      const CycleClock& clock, double maxFrameRate = 0);

} // namespace kavlo
