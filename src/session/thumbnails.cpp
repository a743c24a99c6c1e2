#include "session/thumbnails.h"

#include "core/error.h"
#include "core/thread_priority.h"
#include "media/colour.h"
#include "media/frame_timing.h"
#include "media/thumbnail_decoder.h"

#include <QUuid>

#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>

namespace kavlo {

namespace {

// Below this many images one decoder is as quick: short videos often lie
// within one key frame interval, which two decoders would both decode.
constexpr std::size_t kTwoDecodersFrom = 24;

// Upright and small first, then RGB: the shaping settles the colours of an
// untagged source at the source's size.
QImage toImage(const Picture& picture, BgraConverter& converter) {
    QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
    converter.convert(picture, image.bits(), int(image.bytesPerLine()));
    return image;
}

// Fills images[i] for i in [begin, end). Every failure leaves gaps only.
void makeImages(const std::filesystem::path& file, const std::vector<double>& times,
                std::size_t begin, std::size_t end, double tolerance,
                std::vector<std::optional<QImage>>& images, const std::stop_token& stop) {
    setThisThreadNice(kBackgroundNice);
    try {
        ThumbnailDecoder decoder(file);
        const QSize size =
            thumbnailSize(decoder.track().uprightWidth(), decoder.track().uprightHeight());
        BgraConverter converter;
        for (std::size_t i = begin; i < end && !stop.stop_requested(); ++i) {
            try {
                if (const std::optional<Picture> picture = decoder.pictureFor(
                        SourceTime::fromUs(secondsToUs(times[i])),
                        Microseconds(secondsToUs(tolerance)), size.width(), size.height()))
                    images[i] = toImage(*picture, converter);
            } catch (const Error&) {
                // A damaged stretch costs this image, not the strip.
            }
        }
    } catch (const std::exception&) {
        // Unreadable file or no memory: the strip stays as far as it got.
    }
}

} // namespace

std::vector<double> thumbnailTimes(double durationSeconds) {
    const double d = std::isfinite(durationSeconds) && durationSeconds > 0 ? durationSeconds : 0;
    const auto count = static_cast<std::size_t>(std::clamp(std::floor(2 * d), 12.0, 120.0));
    std::vector<double> times(count);
    for (std::size_t i = 0; i < count; ++i)
        times[i] = d * double(i) / double(count - 1);
    times.back() = d;
    return times;
}

QSize thumbnailSize(double displayWidth, double displayHeight) {
    if (!(displayWidth > 0) || !(displayHeight > 0))
        return {kThumbnailMaxWidth, kThumbnailMaxHeight};
    const double scale =
        std::min({1.0, kThumbnailMaxWidth / displayWidth, kThumbnailMaxHeight / displayHeight});
    return {std::clamp(int(std::lround(displayWidth * scale)), 1, kThumbnailMaxWidth),
            std::clamp(int(std::lround(displayHeight * scale)), 1, kThumbnailMaxHeight)};
}

QList<TimelineThumbnail> generateThumbnails(const std::filesystem::path& file,
                                            double durationSeconds, std::stop_token stop,
                                            double toleranceSeconds) {
    const std::vector<double> times = thumbnailTimes(durationSeconds);
    std::vector<std::optional<QImage>> images(times.size());
    {
        // Each half of the strip has a decoder of its own: two cores make
        // the strip in about half the time.
        const bool twoHalves =
            times.size() >= kTwoDecodersFrom && std::thread::hardware_concurrency() > 1;
        const std::size_t split = twoHalves ? times.size() / 2 : times.size();
        std::jthread first(
            [&] { makeImages(file, times, 0, split, toleranceSeconds, images, stop); });
        std::optional<std::jthread> second;
        if (twoHalves)
            second.emplace([&] {
                makeImages(file, times, split, times.size(), toleranceSeconds, images, stop);
            });
    }
    throwIfCancelled(stop);

    QList<TimelineThumbnail> thumbnails;
    for (std::size_t i = 0; i < times.size(); ++i)
        if (images[i])
            thumbnails.append({QUuid::createUuid(), times[i], std::move(*images[i])});
    return thumbnails;
}

} // namespace kavlo
