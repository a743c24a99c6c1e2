#include "session/thumbnails.h"

#include "core/error.h"
#include "core/thread_priority.h"
#include "core/yield_gate.h"
#include "media/colour.h"
#include "media/frame_timing.h"
#include "media/thumbnail_decoder.h"

#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

namespace kavlo {

namespace {

// Below this many images one decoder is as quick: short videos often lie
// within one key frame interval, which two decoders would both decode.
constexpr std::size_t kTwoDecodersFrom = 24;

// Upright and small first, then RGB: the shaping settles the colours of an
// untagged source at the source's size. Cropped to `fill`, centred, when
// one is given.
QImage toImage(const Picture& picture, BgraConverter& converter, QSize fill) {
    QImage image(picture.width(), picture.height(), QImage::Format_RGB32);
    converter.convert(picture, image.bits(), int(image.bytesPerLine()));
    if (fill.isEmpty() || image.size() == fill)
        return image;
    return image.copy((image.width() - fill.width()) / 2, (image.height() - fill.height()) / 2,
                      fill.width(), fill.height());
}

// A tile larger than this is no thumbnail: a bad size from the view.
constexpr int kLargestFill = 1024;

// The strip being made, shared by its decoding threads; each thread owns
// the images of its part.
class Strip {
  public:
    Strip(const std::vector<double>& times, int threads, const ThumbnailsShown& shown,
          std::stop_token stop)
        : times_(times), images_(times.size()), shown_(shown), stop_(std::move(stop)),
          pending_(threads) {
        ids_.reserve(times.size());
        for (std::size_t i = 0; i < times.size(); ++i)
            ids_.push_back(QUuid::createUuid());
    }

    void put(std::size_t i, QImage image) {
        const std::scoped_lock lock(mutex_);
        images_[i] = std::move(image);
        changed_ = true;
    }

    // Each thread calls this once, when it has put the key frames of its
    // part: the last one shows the strip and lets them all go on.
    void keysDone() {
        std::unique_lock lock(mutex_);
        if (--pending_ == 0) {
            show();
            keysShown_.notify_all();
        } else {
            keysShown_.wait(lock, [&] { return pending_ == 0; });
        }
    }

    // Shows the strip when it changed and, unless `now`, was last shown
    // long enough ago: every change has the timeline draw it anew.
    void showChanges(bool now) {
        const std::scoped_lock lock(mutex_);
        if (changed_ && (now || Clock::now() - lastShown_ >= kShowEvery))
            show();
    }

    QList<TimelineThumbnail> list() const {
        const std::scoped_lock lock(mutex_);
        return made();
    }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kShowEvery{100};

    // With the lock held, so that the strips go out in the order made.
    void show() {
        changed_ = false;
        lastShown_ = Clock::now();
        if (!shown_ || stop_.stop_requested())
            return;
        if (const QList<TimelineThumbnail> thumbnails = made(); !thumbnails.isEmpty())
            shown_(thumbnails);
    }

    QList<TimelineThumbnail> made() const {
        QList<TimelineThumbnail> thumbnails;
        for (std::size_t i = 0; i < times_.size(); ++i)
            if (images_[i])
                thumbnails.append({ids_[i], times_[i], *images_[i]});
        return thumbnails;
    }

    const std::vector<double>& times_;
    std::vector<QUuid> ids_;
    std::vector<std::optional<QImage>> images_;
    const ThumbnailsShown& shown_;
    std::stop_token stop_;
    mutable std::mutex mutex_;
    std::condition_variable keysShown_;
    int pending_;
    bool changed_ = false;
    Clock::time_point lastShown_;
};

// Makes the images of times[begin, end): the nearest key frames first,
// then, where those are not within the tolerance, the frame the rule asks
// for. Every failure leaves gaps only, or the key frame in place.
void makeImages(const std::filesystem::path& file, const std::vector<double>& times,
                std::size_t begin, std::size_t end, double toleranceSeconds, QSize fill,
                Strip& strip, const std::stop_token& stop, YieldGate* gate) {
    // The strip of key frames is waited for, as a render is; what replaces
    // it is not.
    setThisThreadNice(kWorkNice);
    const Microseconds tolerance(secondsToUs(toleranceSeconds));
    const auto timeOf = [&](std::size_t i) { return SourceTime::fromUs(secondsToUs(times[i])); };
    std::optional<ThumbnailDecoder> decoder;
    std::optional<BgraConverter> converter;
    QSize size;
    std::vector<bool> done(end - begin);
    try {
        decoder.emplace(file);
        converter.emplace();
        const double width = decoder->track().uprightWidth();
        const double height = decoder->track().uprightHeight();
        size =
            fill.isEmpty() ? thumbnailSize(width, height) : thumbnailCoverSize(width, height, fill);
        for (std::size_t i = begin; i < end && !stop.stop_requested(); ++i) {
            try {
                const std::optional<ThumbnailDecoder::KeyPicture> key =
                    decoder->keyPictureFor(timeOf(i), size.width(), size.height());
                if (!key)
                    continue;
                strip.put(i, toImage(key->picture, *converter, fill));
                done[i - begin] =
                    key->start && std::abs((*key->start - timeOf(i)).count()) <= tolerance.count();
            } catch (const Error&) {
                // A damaged stretch costs this image, not the strip.
            }
        }
    } catch (const std::exception&) {
        // Unreadable file or no memory: the strip stays as far as it got.
        decoder.reset();
    }
    strip.keysDone();
    if (!decoder)
        return;
    setThisThreadNice(kBackgroundNice);
    if (gate)
        decoder->setBetweenFrames([gate, &stop] { gate->pass(stop); });
    try {
        for (std::size_t i = begin; i < end && !stop.stop_requested(); ++i) {
            if (done[i - begin])
                continue;
            try {
                if (const std::optional<Picture> picture =
                        decoder->pictureFor(timeOf(i), tolerance, size.width(), size.height()))
                    strip.put(i, toImage(*picture, *converter, fill));
                strip.showChanges(false);
            } catch (const Error&) {
                // The key frame stays.
            }
        }
    } catch (const std::exception&) {
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

QSize thumbnailCoverSize(double displayWidth, double displayHeight, QSize fill) {
    if (!(displayWidth > 0) || !(displayHeight > 0))
        return fill;
    const double scale =
        std::max(double(fill.width()) / displayWidth, double(fill.height()) / displayHeight);
    return {std::max(fill.width(), int(std::ceil(displayWidth * scale - 1e-6))),
            std::max(fill.height(), int(std::ceil(displayHeight * scale - 1e-6)))};
}

QList<TimelineThumbnail> generateThumbnails(const std::filesystem::path& file,
                                            double durationSeconds, std::stop_token stop,
                                            double toleranceSeconds, const ThumbnailsShown& shown,
                                            QSize fill, YieldGate* gate) {
    if (fill.width() > kLargestFill || fill.height() > kLargestFill)
        fill = {};
    const std::vector<double> times = thumbnailTimes(durationSeconds);
    // Each half of the strip has a decoder of its own: two cores make the
    // strip in about half the time.
    const bool twoHalves =
        times.size() >= kTwoDecodersFrom && std::thread::hardware_concurrency() > 1;
    const std::size_t split = twoHalves ? times.size() / 2 : times.size();
    Strip strip(times, twoHalves ? 2 : 1, shown, stop);
    {
        std::jthread first(
            [&] { makeImages(file, times, 0, split, toleranceSeconds, fill, strip, stop, gate); });
        std::optional<std::jthread> second;
        if (twoHalves)
            second.emplace([&] {
                makeImages(file, times, split, times.size(), toleranceSeconds, fill, strip, stop,
                           gate);
            });
    }
    throwIfCancelled(stop);
    strip.showChanges(true);
    return strip.list();
}

} // namespace kavlo
