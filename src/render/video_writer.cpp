#include "render/video_writer.h"

#include "media/error.h"
#include "media/muxer.h"
#include "render/ping_pong.h"

#include <cmath>

namespace kavlo {

namespace {

constexpr AVRational kTimescale{1, 60000};

// Frame timestamps are counted in frames inside the encoder; the file keeps
// them on a 1/60000 s clock, rounded to the nearest tick.
class FrameClock {
  public:
    explicit FrameClock(double outputRate) : ticksPerFrame_(kTimescale.den / outputRate) {}
    int64_t ticks(int64_t frames) const { return std::llround(frames * ticksPerFrame_); }

  private:
    double ticksPerFrame_;
};

} // namespace

void writePingPongVideo(const PictureAt& pictureAt, const std::vector<int>& sequence,
                        const std::filesystem::path& outputPath, int width, int height,
                        double outputRate, const ProgressCallback& progress, std::stop_token stop,
                        const H264Settings& settings) {
    if (sequence.empty())
        throw kavloError(kVideoWriteFailed, "Could not write video frame.");

    width &= ~1;
    height &= ~1;
    const FrameClock clock(outputRate);
    const std::size_t total = sequence.size();
    const std::size_t period = repeatingPeriod(sequence);

    // Colour tags come from the first picture.
    const Picture* first = pictureAt(sequence.front());
    if (!first)
        return;
    Muxer muxer(outputPath.string(), "mp4", /*fastStart=*/true);
    H264Encoder encoder(width, height, av_d2q(outputRate, 1 << 24), settings,
                        muxer.needsGlobalHeader(), first->frame());
    const int stream = muxer.addStream(encoder.context(), kTimescale);
    muxer.begin();

    // Packets of the first cycle, with timestamps in frames, kept to be
    // written again for the later cycles.
    std::vector<av::PacketPtr> cycle;
    cycle.reserve(period);
    auto writeShifted = [&](const AVPacket* source, int64_t shiftFrames) {
        av::PacketPtr packet = av::refPacket(source);
        const int64_t pts = source->pts + shiftFrames;
        packet->pts = clock.ticks(pts);
        packet->dts = clock.ticks(source->dts + shiftFrames);
        packet->duration = clock.ticks(pts + 1) - packet->pts;
        muxer.write(packet.get(), stream);
    };
    av::PacketPtr packet = av::allocPacket();
    auto drain = [&] {
        while (encoder.receive(packet.get())) {
            writeShifted(packet.get(), 0);
            cycle.push_back(std::move(packet));
            packet = av::allocPacket();
        }
    };

    for (std::size_t i = 0; i < period; ++i) {
        throwIfCancelled(stop);
        const Picture* picture = pictureAt(sequence[i]);
        if (!picture)
            return;
        if (!*picture || picture->width() != width || picture->height() != height)
            throw kavloError(kVideoWriteFailed, "Could not write video frame.");
        av::FramePtr frame = av::refFrame(picture->frame());
        frame->pts = static_cast<int64_t>(i);
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        encoder.send(frame.get());
        drain();
        if (progress)
            progress(double(i + 1) / total);
    }
    encoder.send(nullptr);
    drain();

    for (std::size_t start = period; start < total; start += period) {
        for (std::size_t j = 0; j < cycle.size(); ++j) {
            throwIfCancelled(stop);
            writeShifted(cycle[j].get(), static_cast<int64_t>(start));
            if (progress)
                progress(double(start + std::min(j + 1, period)) / total);
        }
    }
    muxer.finish();
}

} // namespace kavlo
