#include "playback/audio_stream.h"

#include "media/converters.h"
#include "media/error.h"
#include "playback/audio_queue.h"

#include <algorithm>

namespace kavlo {

AudioStream::AudioStream(const std::string& path) : stream_(path, MediaKind::audio) {}

AudioStream::~AudioStream() {
    av_channel_layout_uninit(&layout_);
}

void AudioStream::seekTo(int64_t tUs) {
    stream_.seek(SourceTime::fromUs(tUs));
    swr_.reset();
    flushed_ = false;
    endUs_ = std::max<int64_t>(tUs, 0);
}

PcmChunk AudioStream::convert(const AVFrame* frame, int64_t ptsUs) {
    if (frame && (!swr_ || frame->format != format_ || frame->sample_rate != rate_ ||
                  av_channel_layout_compare(&frame->ch_layout, &layout_) != 0)) {
        av_channel_layout_uninit(&layout_);
        if (frame->ch_layout.nb_channels > 0)
            checkAv(av_channel_layout_copy(&layout_, &frame->ch_layout), "copy channel layout");
        else
            av_channel_layout_default(&layout_, 1);
        format_ = frame->format;
        rate_ = frame->sample_rate;
        const AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
        swr_ = makeResampler(
            {&layout_, AVSampleFormat(format_), rate_, &out, AV_SAMPLE_FMT_S16, kOutputRate});
    }
    PcmChunk chunk;
    if (!swr_)
        return chunk;
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
    while (std::optional<DecodedFrame> f = stream_.next()) {
        endUs_ = (f->start + f->length).us();
        PcmChunk chunk = convert(f->frame.get(), f->start.us());
        if (!chunk.samples.empty())
            return chunk;
    }
    // The resampler's last few samples.
    if (flushed_)
        return std::nullopt;
    flushed_ = true;
    PcmChunk tail = convert(nullptr, endUs_);
    if (tail.samples.empty())
        return std::nullopt;
    return tail;
}

} // namespace kavlo
