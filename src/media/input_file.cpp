#include "media/input_file.h"

#include "media/colour.h"
#include "media/converters.h"
#include "media/error.h"
#include "media/ffmpeg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string_view>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/mem.h>
}

namespace kavlo {

double VideoTrackInfo::nominalFrameRate() const {
    return frameRate.num > 0 && frameRate.den > 0 ? frameRate.toDouble() : 0.0;
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
        v.sampleAspect = av::rational(sar);
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
        v.frameRate = av::rational(st->avg_frame_rate);
    v.fullChroma = hasFullChroma(AVPixelFormat(st->codecpar->format));
    v.naturalWidth = v.codedWidth * v.sampleAspect.toDouble();
    v.naturalHeight = v.codedHeight;
    if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
        v.transform = DisplayTransform::fromDisplayMatrix(reinterpret_cast<const int32_t*>(m));
    return v;
}

// Demuxers that read other files or addresses named inside the file
// (playlists, manifests, session descriptions, file-name patterns). A file
// handed to Kavlo is read on its own; one of these would let a text file
// with a video extension make it open anything the user can read, or the
// network.
constexpr std::string_view kDeniedDemuxers[] = {
    "concat", "dash", "hls", "image2", "imf", "rtp", "rtsp", "sap", "sdp", "webm_dash_manifest",
};

// Every demuxer of this FFmpeg build but the denied ones, as libavformat's
// "format_whitelist" option takes them.
const std::string& allowedDemuxers() {
    static const std::string names = [] {
        std::string list;
        void* it = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&it)) {
            if (std::find(std::begin(kDeniedDemuxers), std::end(kDeniedDemuxers),
                          std::string_view(format->name)) != std::end(kDeniedDemuxers))
                continue;
            if (!list.empty())
                list += ',';
            list += format->name;
        }
        return list;
    }();
    return names;
}

// The most any one allocation of the FFmpeg libraries may take. Demuxers
// allocate what a header claims before reading it: a 104-byte WAV whose
// INFO list claimed a 1.9 GB entry had that much zeroed. The largest
// buffers the program asks of them, an 8192x4320 picture at 48-bit RGB,
// take 212 MB.
constexpr size_t kMostLibraryAllocation = size_t(512) << 20;

// Throws kPictureTooLarge for a picture of width x height pixels (not
// rounded) beyond the limits.
void checkPictureSize(double width, double height) {
    if (width <= kMaxPictureSide && height <= kMaxPictureSide &&
        width * height <= double(kMaxPicturePixels))
        return;
    char size[64];
    std::snprintf(size, sizeof size, "%.0fx%.0f", std::ceil(width), std::ceil(height));
    throw kavloError(kPictureTooLarge, std::string("The video's picture (") + size +
                                           " pixels) is larger than Kavlo can handle (at most "
                                           "8192x4320 pixels).");
}

bool isVideoTrack(const AVStream* st) {
    // Cover art inside audio files is a "video" stream of one picture.
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

AudioTrackInfo describeAudio(const AVStream* st) {
    return {st->index, st->codecpar->sample_rate, st->codecpar->ch_layout.nb_channels};
}

} // namespace

InputFile::InputFile(const std::string& path) {
    // Set before the first file is read, for every reader in the process.
    static std::once_flag capped;
    std::call_once(capped, [] { av_max_alloc(kMostLibraryAllocation); });
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", allowedDemuxers().c_str(), 0);
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    // FFmpeg's words for a file cut short, not a media file at all, or one
    // only the denied demuxers read ("End of file", "Invalid data found
    // when processing input", "Invalid argument") say nothing to the user;
    // the code still tells analytics what happened.
    if (opened == AVERROR_INVALIDDATA || opened == AVERROR_EOF || opened == AVERROR(EINVAL))
        throw Error(kMediaDomain, opened, "The file is damaged or is not a video.");
    // A source that went away while the session still works on it.
    if (opened == AVERROR(ENOENT))
        throw Error(kMediaDomain, opened, "The file was moved, renamed or deleted.");
    if (opened == AVERROR(EACCES))
        throw Error(kMediaDomain, opened, "Kavlo is not allowed to read the file.");
    checkAv(opened, "open input");
    ctx_.reset(raw);
    // What the container's header claims, before anything is decoded.
    for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
        if (isVideoTrack(ctx_->streams[i]))
            checkPictureSize(ctx_->streams[i]->codecpar->width, ctx_->streams[i]->codecpar->height);
    }

    // Probing decodes a picture where the container does not state the size;
    // a stream that claims more than it said is caught below, once probed.
    const int probed = avformat_find_stream_info(ctx_.get(), nullptr);
    checkAv(probed, "read stream info");

    if (ctx_->start_time != AV_NOPTS_VALUE)
        info_.startSeconds = ctx_->start_time / double(AV_TIME_BASE);
    if (ctx_->duration != AV_NOPTS_VALUE && ctx_->duration > 0)
        info_.durationSeconds = ctx_->duration / double(AV_TIME_BASE);

    for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
        const AVStream* st = ctx_->streams[i];
        if (isVideoTrack(st) && !info_.video && st->codecpar->width > 0 &&
            st->codecpar->height > 0) {
            info_.video = describeVideo(st);
            checkPictureSize(info_.video->codedWidth, info_.video->codedHeight);
            checkPictureSize(info_.video->naturalWidth, info_.video->naturalHeight);
        } else if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !info_.audio)
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

AVStream* InputFile::stream(int index) const {
    return ctx_->streams[index];
}

double InputFile::trackSeconds(int streamIndex) const {
    const AVStream* st = ctx_->streams[streamIndex];
    return st->duration != AV_NOPTS_VALUE && st->duration > 0 ? st->duration * av_q2d(st->time_base)
                                                              : 0.0;
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
