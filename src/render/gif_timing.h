// When each picture of a GIF cycle is shown.
//
// GIF delays are whole hundredths of a second, and browsers show a delay of
// 0 or 1 hundredth as 10, so a cycle written naively at the source's frame
// delay drifts (1/30 s stored as 3 plays 10 % fast) or crawls (1/60 s stored
// as 1 plays six times too slowly).
#pragma once

#include <cstddef>
#include <vector>

namespace kavlo {

// The shortest delay viewers honour, in hundredths of a second.
inline constexpr int kMinGifDelay = 2;
// The longest delay the format can store.
inline constexpr int kMaxGifDelay = 65535;

struct GifFrameTiming {
    std::size_t position = 0; // position in the cycle whose picture is shown
    int delay = 0;            // hundredths of a second until the next picture
};

// Schedules a cycle of `positions` pictures, each meant to last
// `frameDelaySeconds`. Picture k appears at round(k * 100 * frameDelaySeconds)
// hundredths, so the rounding remainder is carried and every picture appears
// within 5 ms of its exact time. Where the exact delay is below kMinGifDelay,
// positions are left out evenly: the kept pictures are spaced equally over
// the cycle's exact length and each shows the position due at its time. At
// least two pictures are kept when the cycle has two, so a loop never
// collapses into a still; only then can the cycle run longer than exact.
// maxFrameRate, when above 0, leaves positions out the same way so that at
// most that many pictures a second are shown.
std::vector<GifFrameTiming> gifFrameTimings(std::size_t positions, double frameDelaySeconds,
                                            double maxFrameRate = 0);

} // namespace kavlo
