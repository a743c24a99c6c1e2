#include "render/audio_writer.h"

#include <algorithm>
#include <string>

namespace kavlo {

namespace {

EncoderSettings forMuxer(EncoderSettings settings, const Muxer& muxer) {
    settings.globalHeader = muxer.needsGlobalHeader();
    return settings;
}

} // namespace

AacFileWriter::AacFileWriter(const std::filesystem::path& path, int sampleRate, int channelCount,
                             int64_t bitRate, uint64_t channelMask)
    // "ipod" is libavformat's name for the .m4a flavour of MP4.
    : muxer_(path.string(), "ipod", /*fastStart=*/false),
      encoder_(
          forMuxer(aacEncoderSettings(sampleRate, channelCount, bitRate, channelMask), muxer_)),
      channels_(channelCount) {
    stream_ = muxer_.addStream(encoder_, encoder_.timeBase());
    // Counting the edit list in sample frames keeps the file's length exact.
    muxer_.setOption("movie_timescale", std::to_string(sampleRate));
    muxer_.begin();
}

void AacFileWriter::write(std::span<const float> interleaved) {
    std::size_t offset = 0;
    const std::size_t frames = interleaved.size() / channels_;
    while (offset < frames) {
        if (!frame_)
            frame_.emplace(encoder_);
        // The encoder may still hold a reference to the last frame it was
        // given; writing into shared buffers would change that frame.
        if (filled_ == 0)
            frame_->makeWritable();
        const std::size_t take =
            std::min<std::size_t>(frame_->capacity() - filled_, frames - offset);
        const float* src = interleaved.data() + offset * channels_;
        for (int ch = 0; ch < channels_; ++ch) {
            float* plane = frame_->channel(ch) + filled_;
            for (std::size_t i = 0; i < take; ++i)
                plane[i] = src[i * channels_ + ch];
        }
        filled_ += int(take);
        offset += take;
        if (filled_ == frame_->capacity())
            sendBuffered();
    }
}

void AacFileWriter::sendBuffered() {
    frame_->setSamples(filled_, nextPts_);
    encoder_.send(*frame_);
    nextPts_ += filled_;
    filled_ = 0;
    frame_->setSamples(frame_->capacity(), nextPts_);
    writePackets();
}

void AacFileWriter::writePackets() {
    while (encoder_.receive(packet_))
        muxer_.write(packet_, stream_);
}

void AacFileWriter::finish() {
    // The last frame may be short; the encoder pads it and marks the padding
    // in the packet durations.
    if (filled_ > 0)
        sendBuffered();
    encoder_.sendEnd();
    writePackets();
    muxer_.finish();
}

} // namespace kavlo
