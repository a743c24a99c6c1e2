#include "playback/audio_stream.h"

#include "media/error.h"
#include "playback/audio_queue.h"

#include <cmath>

namespace kavlo {

namespace {
int requireAudio(const InputFile& file) {
    if (!file.info().audio)
        throw kavloError(kNoAudioTrack, "No audio track found.");
    return file.info().audio->streamIndex;
}
} // namespace

AudioStream::AudioStream(const std::string& path)
    : file_(path), streamIndex_(requireAudio(file_)), decoder_(file_.stream(streamIndex_)),
      packet_(av::allocPacket()), frame_(av::allocFrame()) {
    resetResampler();
}

void AudioStream::resetResampler() {
    const AVCodecContext* ctx = decoder_.context();
    SwrContext* raw = nullptr;
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout in;
    if (ctx->ch_layout.nb_channels > 0)
        checkAv(av_channel_layout_copy(&in, &ctx->ch_layout), "copy channel layout");
    else
        av_channel_layout_default(&in, 1);
    const int ret = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_S16, kOutputRate, &in,
                                        ctx->sample_fmt, ctx->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    swr_.reset(raw);
    checkAv(ret, "configure resampler");
    checkAv(swr_init(swr_.get()), "open resampler");
}

void AudioStream::seekTo(int64_t tUs) {
    file_.seek(streamIndex_, std::max<int64_t>(tUs, 0) / 1e6);
    decoder_.flush();
    resetResampler();
    inputDone_ = flushed_ = false;
    nextPtsUs_ = std::max<int64_t>(tUs, 0);
}

PcmChunk AudioStream::convert(const AVFrame* frame, int64_t ptsUs) {
    PcmChunk chunk;
    // What the resampler still holds from earlier input comes out first.
    chunk.ptsUs = ptsUs - swr_get_delay(swr_.get(), 1'000'000);
    const int inSamples = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(swr_.get(), inSamples);
    chunk.samples.resize(static_cast<size_t>(std::max(capacity, 0)) * kOutputChannels);
    uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(chunk.samples.data())};
    const int produced =
        swr_convert(swr_.get(), outPlanes, capacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inSamples);
    checkAv(produced, "resample");
    chunk.samples.resize(static_cast<size_t>(produced) * kOutputChannels);
    return chunk;
}

std::optional<PcmChunk> AudioStream::next() {
    for (;;) {
        if (decoder_.receive(frame_.get())) {
            int64_t ts = frame_->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                ts = frame_->pts;
            const int64_t ptsUs = ts == AV_NOPTS_VALUE
                                      ? nextPtsUs_
                                      : std::llround(file_.toSeconds(streamIndex_, ts) * 1e6);
            const int rate = frame_->sample_rate > 0 ? frame_->sample_rate : kOutputRate;
            nextPtsUs_ = ptsUs + std::llround(frame_->nb_samples * 1e6 / rate);
            PcmChunk chunk = convert(frame_.get(), ptsUs);
            av_frame_unref(frame_.get());
            if (!chunk.samples.empty())
                return chunk;
            continue;
        }
        if (decoder_.drained()) {
            // The resampler's last few samples.
            if (flushed_)
                return std::nullopt;
            flushed_ = true;
            PcmChunk tail = convert(nullptr, nextPtsUs_);
            if (tail.samples.empty())
                return std::nullopt;
            return tail;
        }
        if (inputDone_)
            return std::nullopt;
        if (file_.readPacket(packet_.get(), streamIndex_)) {
            if (!decoder_.send(packet_.get()))
                throwMediaError(AVERROR(EAGAIN), "decode");
        } else {
            decoder_.send(nullptr);
            inputDone_ = true;
        }
    }
}

} // namespace kavlo
