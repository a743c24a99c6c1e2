#include "render/frame_reader.h"

#include "media/error.h"
#include "media/segment_reader.h"
#include "render/memory_budget.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

RenderSize computeRenderSize(const VideoTrackInfo& track) {
    const double w = std::max(std::abs(track.uprightWidth()), 2.0);
    const double h = std::max(std::abs(track.uprightHeight()), 2.0);
    return {static_cast<int>(w) & ~1, static_cast<int>(h) & ~1};
}

int64_t expectedFrameCount(double trimStart, double trimEnd, double frameRate) {
    return std::max<int64_t>(std::llround((trimEnd - trimStart) * frameRate), 2);
}

std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop) {
    // Sampling steps are at least a second apart even for slower tracks.
    const double rate = std::max(frameRate, 1.0);
    const int64_t expected = expectedFrameCount(trimStart, trimEnd, frameRate);

    const SegmentSampling sampling{std::max(trimStart, 0.0), std::max(trimEnd - trimStart, 0.001),
                                   rate, width, height};
    std::optional<VideoSegmentReader> reader;
    try {
        reader.emplace(file, sampling);
    } catch (const Error& e) {
        // A track this build cannot decode at all: say so in the user's terms.
        if (e.domain() == kMediaDomain && e.code() == AVERROR_DECODER_NOT_FOUND)
            throw kavloError(kFramesUnreadable, "Could not read video frames");
        throw;
    }
    std::vector<Picture> frames;
    // What a sane segment holds; a header that claims an absurd rate must
    // not reserve for it.
    frames.reserve(std::min<int64_t>(expected, 1024));
    while (int64_t(frames.size()) < expected) {
        std::optional<Picture> picture;
        try {
            picture = reader->next();
        } catch (const Error& e) {
            if (e.domain() == kMediaDomain && e.code() == AVERROR_INVALIDDATA)
                throw kavloError(kFrameReadFailed, "Video frame read failed");
            throw;
        }
        if (!picture)
            break;
        throwIfCancelled(stop);
        frames.push_back(std::move(*picture));
        if (progress)
            progress(std::min(double(frames.size()) / expected, 1.0) * progressShare);
    }
    // Damaged data would be written as damaged pictures, or as others that
    // quietly refer to them: no picture of such a segment can be trusted.
    if (reader->sawCorruptData())
        throw kavloError(kFrameReadFailed, "Video frame read failed");
    return frames;
}

RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              double (*samplingRate)(double nominalFrameRate),
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, std::optional<uint64_t> availableMemory) {
    const std::optional<VideoTrackInfo>& track = file.info().video;
    if (!track)
        throw kavloError(kNoVideoTrack, "No video track");
    RenderFrames out;
    out.frameRate = samplingRate(track->nominalFrameRate());
    out.size = computeRenderSize(*track);
    checkRenderMemory(expectedFrameCount(trimStart, trimEnd, out.frameRate), out.size.width,
                      out.size.height, availableMemory);
    out.pictures = readSegmentFrames(file, trimStart, trimEnd, out.frameRate, out.size.width,
                                     out.size.height, progress, progressShare, stop);
    if (out.pictures.size() < 2)
        throw kavloError(kNotEnoughFrames, "Not enough frames in selected segment");
    return out;
}

} // namespace kavlo
