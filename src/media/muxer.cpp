#include "media/muxer.h"

#include "media/av_ptr.h"
#include "media/encoder.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/file_util.h"
#include "media/input_file.h"

#include <algorithm>

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

AVRational toAv(Rational r) {
    return {r.num, r.den};
}

} // namespace

void Muxer::Free::operator()(AVFormatContext* ctx) const noexcept {
    av::OutputContextDeleter()(ctx);
}

Muxer::Muxer(const std::string& path, const std::string& format, bool fastStart) {
    AVFormatContext* raw = nullptr;
    checkAv(avformat_alloc_output_context2(&raw, nullptr, format.c_str(), path.c_str()),
            "create output");
    ctx_.reset(raw);
    if (!(ctx_->oformat->flags & AVFMT_NOFILE))
        checkWrite(avio_open(&ctx_->pb, path.c_str(), AVIO_FLAG_WRITE), "open output file");
    if (fastStart)
        movFlags_ = "+faststart";
}

Muxer::~Muxer() = default;

void Muxer::setOption(const std::string& key, const std::string& value) {
    options_.emplace_back(key, value);
}

bool Muxer::needsGlobalHeader() const {
    return ctx_->oformat->flags & AVFMT_GLOBALHEADER;
}

int Muxer::newStream(Rational timeBase) {
    AVStream* st = avformat_new_stream(ctx_.get(), nullptr);
    if (!st)
        throw std::bad_alloc();
    st->time_base = toAv(timeBase);
    timeBases_.push_back(timeBase);
    return st->index;
}

int Muxer::addStream(const Encoder& encoder, Rational timeBase) {
    const int index = newStream(timeBase);
    checkAv(avcodec_parameters_from_context(ctx_->streams[index]->codecpar, encoder.ctx_.get()),
            "configure output stream");
    return index;
}

int Muxer::addCopiedStream(const InputFile& file, int streamIndex) {
    const AVStream* source = file.stream(streamIndex);
    const int index = newStream({source->time_base.num, source->time_base.den});
    AVStream* st = ctx_->streams[index];
    checkAv(avcodec_parameters_copy(st->codecpar, source->codecpar), "configure output stream");
    st->codecpar->codec_tag = 0;
    std::size_t matrixSize = 0;
    if (const uint8_t* matrix =
            av_stream_get_side_data(source, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize)) {
        uint8_t* copy = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, matrixSize);
        if (!copy)
            throw std::bad_alloc();
        std::copy_n(matrix, matrixSize, copy);
    }
    return index;
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

void Muxer::write(Packet& packet, int streamIndex) {
    write(packet.packet_.get(), streamIndex);
}

void Muxer::write(AVPacket* p, int streamIndex) {
    p->stream_index = streamIndex;
    // A position in the file it was read from means nothing in this one.
    p->pos = -1;
    av_packet_rescale_ts(p, toAv(timeBases_[streamIndex]), ctx_->streams[streamIndex]->time_base);
    checkWrite(av_interleaved_write_frame(ctx_.get(), p), "write packet");
}

void Muxer::finish() {
    checkWrite(av_write_trailer(ctx_.get()), "finish output");
    checkWrite(avio_closep(&ctx_->pb), "close output file");
}

} // namespace kavlo
