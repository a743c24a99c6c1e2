#include "render/frame_reader.h"

#include "media/error.h"
#include "media/segment_reader.h"
#include "render/memory_budget.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kavlo {

namespace {

// True for a stream with a colour sample at every pixel: 4:4:4 YUV or RGB.
bool hasFullChroma(const AVStream* stream) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(stream->codecpar->format));
    return d && d->nb_components >= 3 && d->log2_chroma_w == 0 && d->log2_chroma_h == 0;
}

} // namespace

RenderSize computeRenderSize(const VideoTrackInfo& track) {
    const double w = std::max(std::abs(track.uprightWidth()), 2.0);
    const double h = std::max(std::abs(track.uprightHeight()), 2.0);
    return {static_cast<int>(w) & ~1, static_cast<int>(h) & ~1};
}

int64_t expectedFrameCount(double trimStart, double trimEnd, double frameRate) {
    return std::max<int64_t>(std::llround((trimEnd - trimStart) * std::max(frameRate, 1.0)), 2);
}

std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop, bool fullChroma) {
    // The steps and their count follow one rate, so that the pictures read
    // are the ones their times say.
    const double rate = std::max(frameRate, 1.0);
    const int64_t expected = expectedFrameCount(trimStart, trimEnd, rate);

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

double samplingFrameRate(double nominalFrameRate) {
    return nominalFrameRate > 0 ? std::max(nominalFrameRate, 1.0) : 30.0;
}

RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, bool fullChroma,
                              std::optional<uint64_t> availableMemory) {
    const std::optional<VideoTrackInfo>& track = file.info().video;
    if (!track)
        throw kavloError(kNoVideoTrack, "No video track");
    RenderFrames out;
    out.frameRate = samplingFrameRate(track->nominalFrameRate());
    out.size = computeRenderSize(*track);
    // Pictures kept in 4:4:4 take twice the memory of 4:2:0 ones.
    const int64_t frames = expectedFrameCount(trimStart, trimEnd, out.frameRate);
    const bool keepsFullChroma = fullChroma && hasFullChroma(file.stream(track->streamIndex));
    checkRenderMemory(keepsFullChroma ? 2 * frames : frames, out.size.width, out.size.height,
                      availableMemory);
    out.pictures = readSegmentFrames(file, trimStart, trimEnd, out.frameRate, out.size.width,
                                     out.size.height, progress, progressShare, stop, fullChroma);
    if (out.pictures.size() < 2)
        throw kavloError(kNotEnoughFrames, "Not enough frames in selected segment");
    return out;
}

} // namespace kavlo
