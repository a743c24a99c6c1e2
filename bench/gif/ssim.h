// Structural similarity of two RGB pictures of one size: the mean over the
// red, green and blue planes of SSIM on 8x8 windows placed every 4 pixels
// (the windowing of FFmpeg's ssim filter), 1.0 for identical pictures.
#pragma once

#include "support/test_gif.h"

namespace kavlo::bench {

double ssim(const test::RgbPicture& a, const test::RgbPicture& b);

} // namespace kavlo::bench
