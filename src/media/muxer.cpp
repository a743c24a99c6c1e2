#include "media/muxer.h"

#include "media/error.h"
#include "media/file_util.h"

extern "C" {
#include <libavutil/error.h>
}

namespace kavlo {

namespace {

// Writes that find the disk full say so in the user's terms.
int checkWrite(int ret, std::string_view operation) {
    if (ret < 0 && isOutOfSpace(AVUNERROR(ret)))
        throwOutOfSpace();
    return checkAv(ret, operation);
}

} // namespace

Muxer::Muxer(const std::string& path, const char* format, bool fastStart) {
    AVFormatContext* raw = nullptr;
    checkAv(avformat_alloc_output_context2(&raw, nullptr, format, path.c_str()), "create output");
    ctx_.reset(raw);
    if (!(ctx_->oformat->flags & AVFMT_NOFILE))
        checkAv(avio_open(&ctx_->pb, path.c_str(), AVIO_FLAG_WRITE), "open output file");
    if (fastStart)
        movFlags_ = "+faststart";
}

void Muxer::setOption(const std::string& key, const std::string& value) {
    options_.emplace_back(key, value);
}

bool Muxer::needsGlobalHeader() const {
    return ctx_->oformat->flags & AVFMT_GLOBALHEADER;
}

int Muxer::addStream(const AVCodecContext* encoder, AVRational timeBase) {
    AVStream* st = avformat_new_stream(ctx_.get(), nullptr);
    if (!st)
        throw std::bad_alloc();
    checkAv(avcodec_parameters_from_context(st->codecpar, encoder), "configure output stream");
    st->time_base = timeBase;
    timeBases_.push_back(timeBase);
    return st->index;
}

int Muxer::addStream(const AVCodecParameters* parameters, AVRational timeBase) {
    AVStream* st = avformat_new_stream(ctx_.get(), nullptr);
    if (!st)
        throw std::bad_alloc();
    checkAv(avcodec_parameters_copy(st->codecpar, parameters), "configure output stream");
    st->codecpar->codec_tag = 0;
    st->time_base = timeBase;
    timeBases_.push_back(timeBase);
    return st->index;
}

void Muxer::begin() {
    AVDictionary* opts = nullptr;
    if (!movFlags_.empty())
        av_dict_set(&opts, "movflags", movFlags_.c_str(), 0);
    for (const auto& [key, value] : options_)
        av_dict_set(&opts, key.c_str(), value.c_str(), 0);
    const int ret = avformat_write_header(ctx_.get(), &opts);
    av_dict_free(&opts);
    checkWrite(ret, "write header");
}

void Muxer::write(AVPacket* packet, int streamIndex) {
    packet->stream_index = streamIndex;
    av_packet_rescale_ts(packet, timeBases_[streamIndex], ctx_->streams[streamIndex]->time_base);
    checkWrite(av_interleaved_write_frame(ctx_.get(), packet), "write packet");
}

void Muxer::finish() {
    checkWrite(av_write_trailer(ctx_.get()), "finish output");
    checkWrite(avio_closep(&ctx_->pb), "close output file");
}

} // namespace kavlo
