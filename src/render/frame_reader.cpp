#include "render/frame_reader.h"

#include "media/error.h"
#include "render/memory_budget.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

ExportFiles::ExportFiles(const std::filesystem::path& sourcePath,
                         const std::filesystem::path& outputPath)
    : output((checkOutputIsNotSource(sourcePath, outputPath), outputPath)),
      source(sourcePath.string()) {}

namespace {
constexpr double kManyPictureBytes = 1e9;
} // namespace

RenderSize computeRenderSize(const VideoTrackInfo& track) {
    const double w = std::max(std::abs(track.uprightWidth()), 2.0);
    const double h = std::max(std::abs(track.uprightHeight()), 2.0);
    return {static_cast<int>(w) & ~1, static_cast<int>(h) & ~1};
}

int64_t expectedFrameCount(double trimStart, double trimEnd, double frameRate) {
    return std::max<int64_t>(std::llround((trimEnd - trimStart) * std::max(frameRate, 1.0)), 2);
}

RenderSize fitRenderSize(RenderSize size, RenderSize box) {
    if (box.width <= 0 || box.height <= 0 || (size.width <= box.width && size.height <= box.height))
        return size;
    const double scale = std::min(double(box.width) / size.width, double(box.height) / size.height);
    auto side = [scale](int length, int limit) {
        const long scaled = std::min<long>(std::lround(length * scale), limit);
        return std::max(int(scaled) & ~1, 2);
    };
    return {side(size.width, box.width), side(size.height, box.height)};
}

SegmentPlan planSegment(InputFile& file, double trimStart, double trimEnd, RenderSize maxSize,
                        bool fullChroma) {
    const std::optional<VideoTrackInfo>& track = file.info().video;
    if (!track)
        throw kavloError(kNoVideoTrack, "No video track");
    SegmentPlan plan;
    plan.trimStart = trimStart;
    plan.trimEnd = trimEnd;
    plan.frameRate = samplingFrameRate(track->nominalFrameRate());
    const RenderSize full = computeRenderSize(*track);
    plan.size = fitRenderSize(full, maxSize);
    plan.fitted = plan.size != full;
    plan.expected = expectedFrameCount(trimStart, trimEnd, plan.frameRate);
    plan.fullChroma = fullChroma && track->fullChroma;
    // Each frame-decoding thread keeps pictures of its own in flight: about
    // 90 MB at 2160p, where a render that holds gigabytes of pictures can
    // least afford them. The encoder is then the slower by far, so one
    // decoding thread still keeps ahead of it.
    const double pictureBytes = plan.pictureBytes();
    if (pictureBytes * double(plan.expected) > kManyPictureBytes)
        plan.decoderThreads = 1;
    return plan;
}

SegmentPictureReader::SegmentPictureReader(InputFile& file, const SegmentPlan& plan)
    : expected_(plan.expected) {
    // Sampling steps are at least a second apart even for slower tracks.
    const SegmentSampling sampling{std::max(plan.trimStart, 0.0),
                                   std::max(plan.trimEnd - plan.trimStart, 0.001),
                                   std::max(plan.frameRate, 1.0),
                                   plan.size.width,
                                   plan.size.height,
                                   plan.fitted,
                                   plan.decoderThreads,
                                   plan.fullChroma,
                                   plan.leftOut};
    try {
        reader_.emplace(file, sampling);
    } catch (const Error& e) {
        // A track this build cannot decode at all: say so in the user's terms.
        if (isMissingDecoder(e))
            throw kavloError(kFramesUnreadable, "Could not read video frames");
        throw;
    }
}

std::optional<Picture> SegmentPictureReader::next() {
    std::optional<Picture> picture;
    if (read_ < expected_) {
        try {
            picture = reader_->next();
        } catch (const Error& e) {
            if (isDamagedData(e))
                throw kavloError(kFrameReadFailed, "Video frame read failed");
            throw;
        }
    }
    if (!picture) {
        // Damaged data would be written as damaged pictures, or as others
        // that quietly refer to them: no picture of such a segment can be
        // trusted.
        if (reader_->sawCorruptData())
            throw kavloError(kFrameReadFailed, "Video frame read failed");
        expected_ = read_; // ended
        return std::nullopt;
    }
    ++read_;
    return picture;
}

std::vector<Picture> readSegmentFrames(InputFile& file, double trimStart, double trimEnd,
                                       double frameRate, int width, int height,
                                       const ProgressCallback& progress, double progressShare,
                                       std::stop_token stop, bool fullChroma) {
    SegmentPlan plan;
    plan.trimStart = trimStart;
    plan.trimEnd = trimEnd;
    plan.frameRate = frameRate;
    plan.size = {width, height};
    plan.expected = expectedFrameCount(trimStart, trimEnd, frameRate);
    plan.fullChroma = fullChroma;
    SegmentPictureReader reader(file, plan);
    std::vector<Picture> frames;
    // What a sane segment holds; a header that claims an absurd rate must
    // not reserve for it.
    frames.reserve(std::min<int64_t>(plan.expected, 1024));
    while (std::optional<Picture> picture = reader.next()) {
        throwIfCancelled(stop);
        frames.push_back(std::move(*picture));
        if (progress)
            progress(std::min(double(frames.size()) / plan.expected, 1.0) * progressShare);
    }
    return frames;
}

double samplingFrameRate(double nominalFrameRate) {
    return nominalFrameRate > 0 ? std::max(nominalFrameRate, 1.0) : 30.0;
}

RenderFrames readRenderFrames(InputFile& file, double trimStart, double trimEnd,
                              const ProgressCallback& progress, double progressShare,
                              std::stop_token stop, bool fullChroma,
                              std::optional<uint64_t> availableMemory, RenderSize maxSize) {
    const SegmentPlan plan = planSegment(file, trimStart, trimEnd, maxSize, fullChroma);
    checkRenderMemory(plan.memoryFrames(), plan.size.width, plan.size.height, availableMemory);
    RenderFrames out;
    out.frameRate = plan.frameRate;
    out.size = plan.size;
    out.pictures =
        readSegmentFrames(file, trimStart, trimEnd, plan.frameRate, plan.size.width,
                          plan.size.height, progress, progressShare, stop, plan.fullChroma);
    checkEnoughFrames(out.pictures.size());
    return out;
}

void checkEnoughFrames(std::size_t frameCount) {
    if (frameCount < 2)
        throw kavloError(kNotEnoughFrames, "Not enough frames in selected segment");
}

} // namespace kavlo
