#include "media/packet.h"

#include "media/av_ptr.h"
#include "media/ffmpeg.h"
#include "media/input_file.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kavlo {

static_assert(Packet::kNoTime == AV_NOPTS_VALUE);

void Packet::Free::operator()(AVPacket* packet) const noexcept {
    av_packet_free(&packet);
}

Packet::Packet() : packet_(av_packet_alloc()) {
    if (!packet_)
        throw std::bad_alloc();
}

int64_t Packet::pts() const {
    return packet_->pts;
}
int64_t Packet::dts() const {
    return packet_->dts;
}
int64_t Packet::duration() const {
    return packet_->duration;
}

void Packet::setTimes(int64_t pts, int64_t dts, int64_t duration) {
    packet_->pts = pts;
    packet_->dts = dts;
    packet_->duration = duration;
}

int Packet::size() const {
    return packet_->size;
}
bool Packet::isKey() const {
    return (packet_->flags & AV_PKT_FLAG_KEY) != 0;
}

void Packet::dropTimelineMarks() {
    av_packet_free_side_data(packet_.get());
    packet_->flags &= ~AV_PKT_FLAG_DISCARD;
}

Packet Packet::share() const {
    Packet copy;
    if (av_packet_ref(copy.packet_.get(), packet_.get()) < 0)
        throw std::bad_alloc();
    return copy;
}

bool readPacket(InputFile& file, int streamIndex, Packet& packet) {
    return file.readPacket(packet.packet_.get(), streamIndex);
}

TrackTimes trackTimes(const InputFile& file, int streamIndex) {
    const AVStream* st = file.stream(streamIndex);
    TrackTimes times{{st->time_base.num, st->time_base.den}, st->duration};
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
        times.duration =
            std::max<int64_t>(std::llround(file.info().durationSeconds / av_q2d(st->time_base)), 0);
    return times;
}

} // namespace kavlo
