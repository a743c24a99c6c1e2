#include "render/video_writer.h"

#include "media/encoder.h"
#include "media/error.h"
#include "media/muxer.h"
#include "render/ping_pong.h"

#include <cmath>

namespace kavlo {

namespace {

constexpr Rational kTimescale{1, 60000};

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
                        const H264Settings& settings, bool indexAtFront) {
    if (sequence.empty())
        throw kavloError(kVideoWriteFailed, "Could not write video frame.");

    width &= ~1;
    height &= ~1;
    const FrameClock clock(outputRate);
    const std::size_t total = sequence.size();
    const std::size_t period = repeatingPeriod(sequence);

    const Picture* first = pictureAt(sequence.front());
    if (!first)
        return;
    Muxer muxer(outputPath.string(), "mp4", indexAtFront);
    EncoderSettings encoding =
        h264EncoderSettings(width, height, nearestRational(outputRate, 1 << 24), settings);
    encoding.globalHeader = muxer.needsGlobalHeader();
    // Colour tags come from the first picture.
    encoding.colour = first->colourTags();
    Encoder encoder(encoding);
    const int stream = muxer.addStream(encoder, kTimescale);
    muxer.begin();

    // Packets of the first cycle, with timestamps in frames, kept to be
    // written again for the later cycles.
    std::vector<Packet> cycle;
    cycle.reserve(period);
    auto writeShifted = [&](const Packet& source, int64_t shiftFrames) {
        Packet packet = source.share();
        const int64_t pts = source.pts() + shiftFrames;
        const int64_t ticks = clock.ticks(pts);
        packet.setTimes(ticks, clock.ticks(source.dts() + shiftFrames),
                        clock.ticks(pts + 1) - ticks);
        muxer.write(packet, stream);
    };
    Packet packet;
    auto drain = [&] {
        while (encoder.receive(packet)) {
            writeShifted(packet, 0);
            cycle.push_back(std::move(packet));
            packet = Packet();
        }
    };

    for (std::size_t i = 0; i < period; ++i) {
        throwIfCancelled(stop);
        const Picture* picture = pictureAt(sequence[i]);
        if (!picture)
            return;
        if (!*picture || picture->width() != width || picture->height() != height)
            throw kavloError(kVideoWriteFailed, "Could not write video frame.");
        encoder.send(*picture, static_cast<int64_t>(i));
        drain();
        if (progress)
            progress(double(i + 1) / total);
    }
    encoder.sendEnd();
    drain();

    for (std::size_t start = period; start < total; start += period) {
        for (std::size_t j = 0; j < cycle.size(); ++j) {
            throwIfCancelled(stop);
            writeShifted(cycle[j], static_cast<int64_t>(start));
            if (progress)
                progress(double(start + std::min(j + 1, period)) / total);
        }
    }
    muxer.finish();
}

} // namespace kavlo
