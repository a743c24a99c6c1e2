// The MP4 entry point of the renderer: the selected segment played forward
// and backward, loops times, at the given speed.
#pragma once

#include "media/encoder.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace kavlo {

struct RenderOptions {
    // Compression only; previews ask for a faster preset.
    H264Settings video = H264Settings::forExport();
    // A source larger than this box is rendered scaled down to fit inside
    // it (see fitRenderSize); {0, 0}: always at the source's own size.
    // Previews pass the size, in device pixels, of the area that shows them.
    RenderSize fitWithin;
    // The memory free for the render's pictures; unset: what the machine
    // has free (memory_budget.h). Tests set it to see the limit.
    std::optional<uint64_t> availableMemory;
    // At most this many pictures a second, others left out evenly (see
    // written_rate.h); 0: only the usual cap.
    double maxFrameRate = 0;
    // The usual cap is the one for pictures of the source's own render size
    // even when fitted smaller: a preview then shows frame for frame what
    // an export at full size writes.
    bool rateAsAtFullSize = false;
    // Without it, the source's sound is left out.
    bool sound = true;
};

// Reads [trimStart, trimEnd] of sourcePath at the track's nominal frame rate
// (at least 1; 30 when it has none), and writes the ping-pong sequence to
// outputPath at frameRate * max(speed, 0.01) frames per second, or, above
// the cap of written_rate.h, at most that many with pictures left out
// evenly. loops below 1 count as 1.
//
// When the source has sound, the MP4 carries an AAC track that follows the
// picture forward and backward (see audio_loop.h). Picture and sound are
// then written to two temporary files, "kavlo-video-<UUID>.mp4" and
// "kavlo-audio-<UUID>.m4a" in the temporary directory, and joined into
// outputPath; both are removed whether the render succeeds, fails or is
// cancelled.
//
// The MP4 is written under a temporary name in outputPath's folder and
// renamed to outputPath only once complete (see PartialOutput): an existing
// file there is replaced by a finished render and left as it was by a
// failed, cancelled or killed one. A folder that cannot be written fails
// before anything is read (code 31), a full disk with code 32, a segment
// whose pictures would not fit in memory with code 30.
//
// The picture is encoded while the segment is still being decoded (on a
// thread of its own): x264 takes the forward half as it arrives, and the
// backward half from the kept pictures.
//
// Progress: reading and writing the picture overlap, and each report counts
// both; with sound the audio follows, and 1.0 is reported once the file is
// joined (the shares are kMp4Shares and kMp4WithSoundShares of
// render_progress.h). Reports never step back, all on the calling thread. Runs on the calling
// thread; throws Error on failure and Cancelled when `stop` is requested.
RenderResult renderPingPongVideo(const std::filesystem::path& sourcePath,
                                 const std::filesystem::path& outputPath, double trimStart,
                                 double trimEnd, double speed, int loops,
                                 const ProgressCallback& progress, std::stop_token stop = {},
                                 const RenderOptions& options = {});

} // namespace kavlo
