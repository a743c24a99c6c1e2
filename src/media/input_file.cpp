#include "media/input_file.h"

#include "media/error.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

namespace kavlo {

double VideoTrackInfo::nominalFrameRate() const {
    return frameRate.num > 0 && frameRate.den > 0 ? av_q2d(frameRate) : 0.0;
}

namespace {

VideoTrackInfo describeVideo(const AVStream* st) {
    VideoTrackInfo v;
    v.streamIndex = st->index;
    v.codedWidth = st->codecpar->width;
    v.codedHeight = st->codecpar->height;
    AVRational sar =
        st->sample_aspect_ratio.num ? st->sample_aspect_ratio : st->codecpar->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0)
        v.sampleAspect = sar;
    v.frameRate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                           : AVRational{0, 1};
    v.naturalWidth = v.codedWidth * av_q2d(v.sampleAspect);
    v.naturalHeight = v.codedHeight;
    if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
        v.transform = DisplayTransform::fromDisplayMatrix(reinterpret_cast<const int32_t*>(m));
    return v;
}

AudioTrackInfo describeAudio(const AVStream* st) {
    return {st->index, st->codecpar->sample_rate, st->codecpar->ch_layout.nb_channels};
}

} // namespace

InputFile::InputFile(const std::string& path) {
    AVFormatContext* raw = nullptr;
    checkAv(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open input");
    ctx_.reset(raw);
    checkAv(avformat_find_stream_info(ctx_.get(), nullptr), "read stream info");

    if (ctx_->start_time != AV_NOPTS_VALUE)
        info_.startSeconds = ctx_->start_time / double(AV_TIME_BASE);
    if (ctx_->duration != AV_NOPTS_VALUE && ctx_->duration > 0)
        info_.durationSeconds = ctx_->duration / double(AV_TIME_BASE);

    for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
        const AVStream* st = ctx_->streams[i];
        const AVMediaType type = st->codecpar->codec_type;
        // Cover art inside audio files is a "video" stream of one picture.
        if (type == AVMEDIA_TYPE_VIDEO && !info_.video &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->codecpar->width > 0 &&
            st->codecpar->height > 0)
            info_.video = describeVideo(st);
        else if (type == AVMEDIA_TYPE_AUDIO && !info_.audio)
            info_.audio = describeAudio(st);
    }
}

bool InputFile::readPacket(AVPacket* packet, int streamIndex) {
    for (;;) {
        av_packet_unref(packet);
        const int ret = av_read_frame(ctx_.get(), packet);
        if (ret == AVERROR_EOF)
            return false;
        checkAv(ret, "read packet");
        if (packet->stream_index == streamIndex)
            return true;
    }
}

void InputFile::seek(int streamIndex, double seconds) {
    if (seconds > 0) {
        checkAv(av_seek_frame(ctx_.get(), streamIndex, toStreamTime(streamIndex, seconds),
                              AVSEEK_FLAG_BACKWARD),
                "seek");
        return;
    }
    // A search for time 0 itself lands near it, not on the first packet:
    // inside the first GOP in MPEG-TS, and past the encoder's priming
    // packet in MP4 (whose skip is then applied to real sound). A time
    // before the first packet has nothing to land on but the first packet.
    // Indexed containers that refuse such a time (AVI) find the first
    // packet at time 0 itself.
    if (av_seek_frame(ctx_.get(), streamIndex, toStreamTime(streamIndex, -1.0),
                      AVSEEK_FLAG_BACKWARD) >= 0 ||
        av_seek_frame(ctx_.get(), streamIndex, toStreamTime(streamIndex, 0.0),
                      AVSEEK_FLAG_BACKWARD) >= 0)
        return;
    checkAv(av_seek_frame(ctx_.get(), -1, 0, AVSEEK_FLAG_BYTE), "seek");
}

double InputFile::toSeconds(int streamIndex, int64_t ts) const {
    return ts * av_q2d(ctx_->streams[streamIndex]->time_base) - info_.startSeconds;
}

int64_t InputFile::toStreamTime(int streamIndex, double seconds) const {
    const AVRational tb = ctx_->streams[streamIndex]->time_base;
    return static_cast<int64_t>(
        std::floor((seconds + info_.startSeconds) * tb.den / static_cast<double>(tb.num)));
}

MediaInfo probeMedia(const std::string& path) {
    return InputFile(path).info();
}

} // namespace kavlo
