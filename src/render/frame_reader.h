// Decoding the selected segment into upright pictures of the render size.
#pragma once

#include "media/input_file.h"
#include "media/picture.h"
#include "render/render_types.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

struct RenderSize {
    int width = 0;
    int height = 0;
};

// The upright size of the track, each side rounded down to an even number
// of pixels and at least 2: 1920x1080 turned by 90 degrees gives 1080x1920,
// 1281x721 gives 1280x720.
RenderSize computeRenderSize(const VideoTrackInfo& track);

// The rate a track is sampled at: its nominal rate, at least 1 (30 when it
// states none). Steps of a slower track would leave a selection of the
// shortest length, a second, without two pictures to loop.
double samplingFrameRate(double nominalFrameRate);

// E = max(round((trimEnd - trimStart) * rate), 2) with rate = max(frameRate,
// 1): how many pictures a segment read at frameRate may give.
int64_t expectedFrameCount(double trimStart, double trimEnd, double frameRate);

// Reads the segment [trimStart, trimEnd] of the file's video track sampled at
// rate = max(frameRate, 1): at most E = expectedFrameCount() pictures, fewer
// when the track ends first. Reports progress from 0 to progressShare.
// Pictures are 4:2:0, or with fullChroma 4:4:4 where the source has that
// resolution. Throws Cancelled when `stop` is requested.
std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop = {}, bool fullChroma = false);

// A segment ready to render: its pictures upright at the full render size.
struct RenderFrames {
    std::vector<Picture> pictures;
    RenderSize size;
    double frameRate = 0; // the rate they were sampled at
};

// Reads the segment of the file's video track, sampled at
// samplingFrameRate(nominal frame rate); fullChroma as for
// readSegmentFrames. Throws code 1 when the file has no video track, code 30
// before reading when the segment's pictures would need more memory than is
// available (`availableMemory`, or what the machine has free when not given;
// see memory_budget.h), and code 4 when the segment gives fewer than two
// pictures.
RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, bool fullChroma = false,
                              std::optional<uint64_t> availableMemory = std::nullopt);

} // namespace kavlo
