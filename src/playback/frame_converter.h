// Turns decoded video frames into upright VideoImages at the size they are
// shown: the display aspect (sample aspect and rotation applied) fitted into
// the viewer's box, so a small view costs a small picture.
//
// Not thread-safe; each thread that converts owns its converter.
#pragma once

#include "media/colour.h"
#include "media/frame.h"
#include "media/input_file.h"
#include "player/pixel_size.h"
#include "player/video_image.h"

namespace kavlo {

// The upright picture fitted into `box` keeping its aspect, never larger
// than the picture itself; an empty box gives the picture's own size.
PixelSize fitPictureSize(double uprightWidth, double uprightHeight, PixelSize box);

class FrameConverter {
  public:
    explicit FrameConverter(const VideoTrackInfo& track);

    // Converts `frame` (any pixel format) to an upright image that fits `box`.
    VideoImage convert(const Frame& frame, PixelSize box);

  private:
    VideoTrackInfo track_;
    BgraConverter bgra_{BgraConverter::Quality::fast};
    ImagePool pool_;
    ImagePool uprightPool_; // turned pictures, when the video needs turning
};

} // namespace kavlo
