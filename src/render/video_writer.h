// Writes a frame sequence as an H.264 MP4 (yuv420p, index at the front).
#pragma once

#include "media/encoder.h"
#include "media/picture.h"
#include "render/render_types.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <vector>

namespace kavlo {

// The picture at a segment index; nullptr when the segment has no such
// picture. May wait until it is decoded, and throw to end the write.
using PictureAt = std::function<const Picture*(int index)>;

// Writes frames[sequence[i]] with presentation time i / outputRate (on a
// 1/60000 s clock) for every position i. A sequence that repeats a cycle is
// encoded once per cycle and the cycle's packets are written again with
// later timestamps: each cycle starts with an IDR frame and refers to nothing
// outside itself, so the file decodes to the same pictures as encoding every
// position would. Reports (i + 1) / sequence length after each position.
// An existing file at outputPath is overwritten in place (a temporary file
// made for it keeps its lock). Pictures are asked for in sequence order, the
// first before the file is opened. Writing stops where pictureAt gives
// nullptr, leaving the file incomplete (the caller, which knows the segment
// ended early, writes another sequence). Without indexAtFront the index
// stays at the end, saving the pass that moves it: for a file that is only
// read again to be joined with the sound.
void writePingPongVideo(const PictureAt& pictureAt, const std::vector<int>& sequence,
                        const std::filesystem::path& outputPath, int width, int height,
                        double outputRate, const ProgressCallback& progress,
                        std::stop_token stop = {},
                        const H264Settings& settings = H264Settings::forExport(),
                        bool indexAtFront = true);

} // namespace kavlo
