// The two encoders the GIF benchmark measures Kavlo against: the ffmpeg
// command line's two-pass palettegen + paletteuse, and gifski (a
// command-line program from npm, run only here as a reference for the
// best quality a GIF reaches; nothing of Kavlo uses it).
#pragma once

#include "support/test_gif.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace kavlo::bench {

namespace fs = std::filesystem;

// The cycle the benchmark measures (frames 2...26 forward, then 27 down to
// 3) as an ffmpeg filter graph.
extern const char* const kCycleGraph;

void palettegenGif(const fs::path& source, const fs::path& output);

// The gifski program, installed with npm into `cache` when it is not there
// yet; none when npm cannot install it (the reason is printed).
std::optional<fs::path> findGifski(const fs::path& cache);

// Writes `pictures` as numbered PNG files into `dir` (replacing any there),
// once, so the timed runs of gifski read the very pictures Kavlo quantizes.
std::vector<fs::path> writePngs(const std::vector<test::RgbPicture>& pictures, const fs::path& dir);

// gifski at `quality` (1 to 100), at the pictures' own `width`.
void gifskiGif(const fs::path& gifski, const std::vector<fs::path>& pngs, int width, int quality,
               double framesPerSecond, const fs::path& output);

} // namespace kavlo::bench
