// The timeline's strip of still images, spread evenly over the whole video.
#pragma once

#include "timeline/timeline_types.h"

#include <QList>
#include <QSize>

#include <filesystem>
#include <functional>
#include <stop_token>
#include <vector>

namespace kavlo {

class YieldGate;

// Images are scaled down (never up) to fit this box, keeping their aspect.
inline constexpr int kThumbnailMaxWidth = 160;
inline constexpr int kThumbnailMaxHeight = 90;
// A key frame this close to a requested time stands in for it.
inline constexpr double kThumbnailToleranceSeconds = 0.2;

// Two images a second, at least 12 and at most 120, the first at 0 and the
// last exactly at `durationSeconds`: t_i = d * i / (count - 1).
std::vector<double> thumbnailTimes(double durationSeconds);

// The size of a thumbnail of a picture shown at displayWidth x displayHeight.
QSize thumbnailSize(double displayWidth, double displayHeight);
// The size that picture is scaled to so that it covers `fill` (the
// timeline's tile in device pixels), keeping its aspect; at least `fill`.
QSize thumbnailCoverSize(double displayWidth, double displayHeight, QSize fill);

// Called on a decoding thread with the whole strip so far, as the Model
// would show it.
using ThumbnailsShown = std::function<void(const QList<TimelineThumbnail>& strip)>;

// One image for each of thumbnailTimes(durationSeconds), upright, in time
// order, each with a new id and its requested time: a key frame within
// `toleranceSeconds` of the time when there is one, otherwise the frame on
// screen `toleranceSeconds` before that time (at the time itself with no
// tolerance). Images that cannot be made are left out; a file that
// cannot be read gives an empty list. Blocking: the calling thread waits
// while two threads of lowered priority decode (one for short videos),
// the key frames at kWorkNice and the rest at kBackgroundNice.
// Throws Cancelled when `stop` is requested.
//
// The nearest key frame of every time is decoded first, which is quick,
// and `shown` gets that strip complete; then, in time order, the images
// that need more are decoded and replace them in place (same id, same
// size), `shown` getting the strip again at most every 100 ms and last
// the final one, the list returned, when it has not had it yet.
//
// With a `fill` size, every image is exactly that size instead: scaled to
// cover it and cropped to it, centred, so that the timeline draws each one
// pixel for pixel and scales nothing on its thread.
//
// With a `gate`, the exact images wait at it (YieldGate::pass) before each
// frame they decode: a preview or export the user waits on goes first.
QList<TimelineThumbnail> generateThumbnails(const std::filesystem::path& file,
                                            double durationSeconds, std::stop_token stop = {},
                                            double toleranceSeconds = kThumbnailToleranceSeconds,
                                            const ThumbnailsShown& shown = {}, QSize fill = {},
                                            YieldGate* gate = nullptr);

} // namespace kavlo
