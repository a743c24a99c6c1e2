#include "render/audio_writer.h"

#include "media/error.h"
#include "render/render_types.h"

#include <algorithm>
#include <string>

namespace kavlo {

AacFileWriter::AacFileWriter(const std::filesystem::path& path, int sampleRate, int channelCount,
                             int64_t bitRate, uint64_t channelMask)
    // "ipod" is libavformat's name for the .m4a flavour of MP4.
    : muxer_(path.string(), "ipod", /*fastStart=*/false),
      encoder_(sampleRate, channelCount, bitRate, muxer_.needsGlobalHeader(), channelMask),
      channels_(channelCount), frameSize_(encoder_.frameSize()), packet_(av::allocPacket()) {
    stream_ = muxer_.addStream(encoder_.context(), AVRational{1, sampleRate});
    // Counting the edit list in sample frames keeps the file's length exact.
    muxer_.setOption("movie_timescale", std::to_string(sampleRate));
    muxer_.begin();
}

void AacFileWriter::write(std::span<const float> interleaved) {
    std::size_t offset = 0;
    const std::size_t frames = interleaved.size() / channels_;
    while (offset < frames) {
        if (!frame_) {
            frame_.reset(av_frame_alloc());
            if (!frame_)
                throw kavloError(kAudioSamplesCreateFailed, "Could not create audio samples.");
            frame_->format = AV_SAMPLE_FMT_FLTP;
            frame_->sample_rate = encoder_.context()->sample_rate;
            frame_->nb_samples = frameSize_;
            if (av_channel_layout_copy(&frame_->ch_layout, &encoder_.context()->ch_layout) < 0)
                throw kavloError(kAudioFormatCreateFailed, "Could not create audio format.");
            if (av_frame_get_buffer(frame_.get(), 0) < 0)
                throw kavloError(kAudioBufferAllocFailed, "Could not allocate audio buffer.");
        }
        // The encoder may still hold a reference to the last frame it was
        // given; writing into shared buffers would change that frame.
        if (filled_ == 0 && av_frame_make_writable(frame_.get()) < 0)
            throw kavloError(kAudioBufferFillFailed, "Could not fill audio buffer.");
        const std::size_t take = std::min<std::size_t>(frameSize_ - filled_, frames - offset);
        const float* src = interleaved.data() + offset * channels_;
        for (int ch = 0; ch < channels_; ++ch) {
            float* plane = reinterpret_cast<float*>(frame_->extended_data[ch]) + filled_;
            for (std::size_t i = 0; i < take; ++i)
                plane[i] = src[i * channels_ + ch];
        }
        filled_ += int(take);
        offset += take;
        if (filled_ == frameSize_)
            sendBuffered();
    }
}

void AacFileWriter::sendBuffered() {
    frame_->nb_samples = filled_;
    frame_->pts = nextPts_;
    if (avcodec_send_frame(encoder_.context(), frame_.get()) < 0)
        throw kavloError(kAudioWriteRefused, "Could not write audio samples.");
    nextPts_ += filled_;
    filled_ = 0;
    frame_->nb_samples = frameSize_;
    writePackets();
}

void AacFileWriter::writePackets() {
    for (;;) {
        const int ret = avcodec_receive_packet(encoder_.context(), packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0)
            throw kavloError(kAudioTrackWriteFailed, "Could not write audio track.");
        muxer_.write(packet_.get(), stream_);
    }
}

void AacFileWriter::finish() {
    // The last frame may be short; the encoder pads it and marks the padding
    // in the packet durations.
    if (filled_ > 0)
        sendBuffered();
    if (avcodec_send_frame(encoder_.context(), nullptr) < 0)
        throw kavloError(kAudioTrackWriteFailed, "Could not write audio track.");
    writePackets();
    muxer_.finish();
}

} // namespace kavlo
