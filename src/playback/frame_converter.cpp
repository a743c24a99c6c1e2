#include "playback/frame_converter.h"

#include "media/orientation.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

PixelSize fitPictureSize(double uprightWidth, double uprightHeight, PixelSize box) {
    const double w = std::max(uprightWidth, 1.0), h = std::max(uprightHeight, 1.0);
    double scale = 1.0;
    if (!box.isEmpty())
        scale = std::min({box.width / w, box.height / h, 1.0});
    return {std::max(1, int(std::lround(w * scale))), std::max(1, int(std::lround(h * scale)))};
}

FrameConverter::FrameConverter(const VideoTrackInfo& track) : track_(track) {}

VideoImage FrameConverter::convert(const Frame& frame, PixelSize box) {
    const PixelSize size = fitPictureSize(track_.uprightWidth(), track_.uprightHeight(), box);
    const DisplayTransform& t = track_.transform;
    // Scaled size before the picture is turned upright.
    const int sw = t.swapsAxes() ? size.height : size.width;
    const int sh = t.swapsAxes() ? size.width : size.height;

    VideoImage scaled = pool_.allocate(sw, sh);
    bgra_.convert(frame, sw, sh, scaled.mutableBits(), scaled.stride());
    if (t.isIdentity())
        return scaled;

    VideoImage upright = uprightPool_.allocate(size.width, size.height);
    transformPlane(t, scaled.bits(), scaled.stride(), sw, sh, upright.mutableBits(),
                   upright.stride(), 4);
    return upright;
}

} // namespace kavlo
