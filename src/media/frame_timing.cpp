#include "media/frame_timing.h"

#include "media/ffmpeg.h"
#include "media/input_file.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
// Timestamps finer than this are still rounded by some muxers.
constexpr int64_t kMinSlackUs = 100;
// The coarsest timestamp precision of common containers (Matroska, WebM).
constexpr int64_t kMillisecondUs = 1000;

int64_t fileStartOf(const InputFile& file) {
    const int64_t start = file.context()->start_time;
    return start == AV_NOPTS_VALUE ? 0 : start;
}

} // namespace

FrameTiming::FrameTiming(Rational timeBase, int64_t fileStartUs, Rational frameRate)
    : timeBase_(timeBase), fileStartUs_(fileStartUs) {
    const int64_t tickUs = std::max<int64_t>(av_rescale_q(1, av::q(timeBase), kMicroseconds), 1);
    const bool rateKnown = frameRate.num > 0 && frameRate.den > 0;
    nominalFrameUs_ =
        rateKnown ? std::max<int64_t>(av_rescale(AV_TIME_BASE, frameRate.den, frameRate.num), 1)
                  : AV_TIME_BASE / 30;
    slackUs_ = std::max(kMinSlackUs, tickUs);
    if (rateKnown)
        slackUs_ = std::max<int64_t>(std::min(slackUs_, nominalFrameUs_ / 4), 1);
    lengthRoundingUs_ = std::max(tickUs, kMillisecondUs);
}

FrameTiming::FrameTiming(const InputFile& file)
    : FrameTiming(av::rational(file.stream(file.info().video.value().streamIndex)->time_base),
                  fileStartOf(file), file.info().video->frameRate) {}

int64_t FrameTiming::toUs(int64_t ts) const {
    return av_rescale_q(ts, av::q(timeBase_), kMicroseconds) - fileStartUs_;
}

int64_t FrameTiming::lengthUs(int64_t duration) const {
    return duration > 0 ? av_rescale_q(duration, av::q(timeBase_), kMicroseconds) : 0;
}

int64_t FrameTiming::toStreamTime(int64_t tUs) const {
    return av_rescale_q_rnd(tUs + fileStartUs_, kMicroseconds, av::q(timeBase_), AV_ROUND_DOWN);
}

bool FrameTiming::surelyOverBy(const AVPacket* packet, int64_t tUs) const {
    return packet->pts != AV_NOPTS_VALUE &&
           surelyOverBy(toUs(packet->pts), lengthUs(packet->duration), tUs);
}

std::optional<std::size_t> FrameTiming::onScreen(std::span<const int64_t> timestamps,
                                                 int64_t tUs) const {
    if (timestamps.empty())
        return std::nullopt;
    // The first frame that has not started by t; the one before it is on
    // screen (the first frame stands for times before it).
    const auto after = std::partition_point(timestamps.begin(), timestamps.end(),
                                            [&](int64_t ts) { return startedBy(toUs(ts), tUs); });
    return after == timestamps.begin() ? 0 : std::size_t(after - timestamps.begin() - 1);
}

int64_t frameTimestamp(const AVFrame* frame) {
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp
                                                          : frame->pts;
}

int64_t secondsToUs(double seconds) {
    return std::llround(seconds * 1e6);
}

} // namespace kavlo
