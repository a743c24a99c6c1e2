#include "render/written_rate.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

// H.264 level 5.1: macroblocks a second, and in one picture.
constexpr double kLevel51MacroblocksPerSecond = 983040;
constexpr double kLevel51MacroblocksPerPicture = 36864;

} // namespace

double maxWrittenFrameRate(int width, int height) {
    const double macroblocks = std::ceil(width / 16.0) * std::ceil(height / 16.0);
    if (macroblocks <= 0 || macroblocks > kLevel51MacroblocksPerPicture)
        return kMaxWrittenFrameRate;
    // Rounded down to a thousandth, so that the encoder's own rounding of
    // the rate cannot tip the stream into the next level.
    const double fits = std::floor(kLevel51MacroblocksPerSecond / macroblocks * 1000) / 1000;
    return std::min(kMaxWrittenFrameRate, fits);
}

WrittenFrames capWrittenRate(const std::vector<int>& sequence, std::size_t cycleLength,
                             double outputRate, double maxRate) {
    const std::size_t p = std::min(cycleLength, sequence.size());
    if (p == 0 || outputRate <= maxRate)
        return {sequence, outputRate, outputRate};
    // The tolerance keeps an exact fit (120 fps halved to 60) whole.
    auto kept = static_cast<std::size_t>(std::floor(double(p) * maxRate / outputRate + 1e-9));
    kept = std::clamp(kept, std::min<std::size_t>(p, 2), p);
    WrittenFrames out;
    out.rate = std::min(outputRate * double(kept) / double(p), maxRate);
    out.sequenceRate = out.rate * double(p) / double(kept);
    out.sequence.reserve(sequence.size() / p * kept);
    for (std::size_t cycle = 0; cycle + p <= sequence.size(); cycle += p)
        for (std::size_t k = 0; k < kept; ++k)
            out.sequence.push_back(sequence[cycle + k * p / kept]);
    return out;
}

} // namespace kavlo
