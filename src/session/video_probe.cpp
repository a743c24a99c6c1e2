#include "session/video_probe.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/input_file.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

VideoProbe probeVideo(const std::filesystem::path& file) {
    InputFile input(file.native());
    const MediaInfo& info = input.info();
    if (!info.video)
        throw kavloError(kNoVideoTrackFound, "No video track found.");
    const VideoTrackInfo& video = *info.video;

    VideoProbe probe;
    probe.durationSeconds = info.durationSeconds;
    if (probe.durationSeconds <= 0) // some containers give only the track's length
        probe.durationSeconds = input.trackSeconds(video.streamIndex);
    probe.nominalFrameRate = video.nominalFrameRate();
    const double width = std::abs(video.uprightWidth());
    const double height = std::abs(video.uprightHeight());
    if (std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0) {
        probe.displayWidth = std::max(width, 1.0);
        probe.displayHeight = std::max(height, 1.0);
    }
    return probe;
}

} // namespace kavlo
