#include "render/render_video.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/video_writer.h"

#include <algorithm>

namespace kavlo {

namespace {

constexpr double kReadShare = 0.35;

// Pictures that the sequence never shows (the trimmed edges) are let go
// before writing starts.
void releaseUnused(std::vector<Picture>& frames, const std::vector<int>& sequence) {
    std::vector<bool> used(frames.size());
    for (int index : sequence)
        used[index] = true;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (!used[i])
            frames[i] = Picture();
}

} // namespace

double samplingFrameRate(double nominalFrameRate) {
    return nominalFrameRate > 0 ? nominalFrameRate : 30.0;
}

RenderResult renderPingPongVideo(const std::filesystem::path& sourcePath,
                                 const std::filesystem::path& outputPath, double trimStart,
                                 double trimEnd, double speed, int loops,
                                 const ProgressCallback& progress, std::stop_token stop,
                                 const RenderOptions& options) {
    removeFileIfExists(outputPath);
    InputFile source(sourcePath.string());
    const std::optional<VideoTrackInfo>& track = source.info().video;
    if (!track)
        throw kavloError(kNoVideoTrack, "No video track");

    const double frameRate = samplingFrameRate(track->nominalFrameRate());
    const RenderSize size = computeRenderSize(*track);
    std::vector<Picture> frames = readSegmentFrames(
        source, trimStart, trimEnd, frameRate, size.width, size.height, progress, kReadShare, stop);
    if (frames.size() < 2)
        throw kavloError(kNotEnoughFrames, "Not enough frames in selected segment");
    const int frameCount = static_cast<int>(frames.size());

    const std::vector<int> sequence = pingPongIndexSequence(frameCount, loops);
    releaseUnused(frames, sequence);
    const double outputRate = frameRate * std::max(speed, 0.01);

    auto writeProgress = [&](double p) {
        if (progress)
            progress(kReadShare + (1.0 - kReadShare) * p);
    };
    writePingPongVideo(frames, sequence, outputPath, size.width, size.height, outputRate,
                       writeProgress, stop, options.video);
    return {frameCount, frameRate};
}

} // namespace kavlo
