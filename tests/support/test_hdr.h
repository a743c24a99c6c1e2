// HDR test clips as phones record them (BT.2020, 10-bit HEVC, PQ or HLG), and
// what the ffmpeg command line makes of them in SDR: the renderer's reference.
#pragma once

#include "support/test_gif.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kavlo::test {

enum class HdrTransfer { pq, hlg };

// Writes `frames` frames of the lavfi source `lavfi` (an SDR BT.709 picture,
// "testsrc2=s=320x180:r=30") as a 10-bit HEVC MOV with the given transfer.
// SDR's white is placed at 203 nits, HDR's reference white; the stream says
// its content peaks at 1000 nits.
std::filesystem::path makeHdrClip(const std::filesystem::path& path, HdrTransfer transfer,
                                  const std::string& lavfi, int frames);

// The clip's first `frames` frames through the ffmpeg chain the renderer
// follows (zscale to linear light, BT.709 primaries, tonemap=hable, the
// BT.709 transfer, video-range 4:2:0), read back as RGB.
std::vector<RgbPicture> toneMappedByFfmpeg(const std::filesystem::path& clip, int frames,
                                           const std::filesystem::path& scratch);

// Mean absolute difference of two pictures' samples, in 8-bit levels.
double meanAbsoluteDifference(const RgbPicture& a, const RgbPicture& b);

} // namespace kavlo::test
