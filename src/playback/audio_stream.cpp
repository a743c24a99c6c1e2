#include "playback/audio_stream.h"

#include "playback/audio_queue.h"

#include <algorithm>

namespace kavlo {

AudioStream::AudioStream(const std::string& path)
    : stream_(path, MediaKind::audio), converter_(kOutputRate) {
    static_assert(SpeakerSoundConverter::kChannels == kOutputChannels);
}

AudioStream::~AudioStream() = default;

void AudioStream::seekTo(int64_t tUs) {
    stream_.seek(SourceTime::fromUs(tUs));
    converter_.reset();
    flushed_ = false;
    endUs_ = std::max<int64_t>(tUs, 0);
}

PcmChunk AudioStream::convert(const Frame* frame, int64_t ptsUs) {
    PcmChunk chunk;
    chunk.ptsUs = ptsUs - converter_.convert(frame, chunk.samples);
    return chunk;
}

std::optional<PcmChunk> AudioStream::next() {
    while (std::optional<DecodedFrame> f = stream_.next()) {
        endUs_ = (f->start + f->length).us();
        PcmChunk chunk = convert(&f->frame, f->start.us());
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
