#include "render/frame_reader.h"

#include "media/error.h"
#include "media/segment_reader.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

RenderSize computeRenderSize(const VideoTrackInfo& track) {
    const double w = std::max(std::abs(track.uprightWidth()), 2.0);
    const double h = std::max(std::abs(track.uprightHeight()), 2.0);
    return {static_cast<int>(w) & ~1, static_cast<int>(h) & ~1};
}

std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop, bool fullChroma) {
    // The steps and their count follow one rate, so that the pictures read
    // are the ones their times say.
    const double rate = std::max(frameRate, 1.0);
    const long expected = std::max(std::lround((trimEnd - trimStart) * rate), 2L);

    const SegmentSampling sampling{std::max(trimStart, 0.0),
                                   std::max(trimEnd - trimStart, 0.001),
                                   rate,
                                   width,
                                   height,
                                   fullChroma};
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
    frames.reserve(expected);
    while (long(frames.size()) < expected) {
        std::optional<Picture> picture = reader->next();
        if (!picture)
            break;
        throwIfCancelled(stop);
        frames.push_back(std::move(*picture));
        if (progress)
            progress(std::min(double(frames.size()) / expected, 1.0) * progressShare);
    }
    if (frames.empty() && reader->sawCorruptData())
        throw kavloError(kFrameReadFailed, "Video frame read failed");
    return frames;
}

double samplingFrameRate(double nominalFrameRate) {
    return nominalFrameRate > 0 ? std::max(nominalFrameRate, 1.0) : 30.0;
}

RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, bool fullChroma) {
    const std::optional<VideoTrackInfo>& track = file.info().video;
    if (!track)
        throw kavloError(kNoVideoTrack, "No video track");
    RenderFrames out;
    out.frameRate = samplingFrameRate(track->nominalFrameRate());
    out.size = computeRenderSize(*track);
    out.pictures = readSegmentFrames(file, trimStart, trimEnd, out.frameRate, out.size.width,
                                     out.size.height, progress, progressShare, stop, fullChroma);
    if (out.pictures.size() < 2)
        throw kavloError(kNotEnoughFrames, "Not enough frames in selected segment");
    return out;
}

} // namespace kavlo
