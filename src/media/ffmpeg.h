// FFmpeg's own headers, for the media layer's sources and its tests only.
// Nothing outside src/media includes this or any header that includes it:
// the rest of the program knows FFmpeg only through media's own types.
#pragma once

#include "media/av_ptr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "media/rational.h"

namespace kavlo::av {

// Media's fractions and FFmpeg's, both ways.
inline AVRational q(Rational r) {
    return {r.num, r.den};
}
inline Rational rational(AVRational r) {
    return {r.num, r.den};
}

} // namespace kavlo::av
