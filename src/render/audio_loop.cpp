#include "render/audio_loop.h"

#include "media/error.h"
#include "render/audio_writer.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

constexpr int64_t kLeadFrames = 2112;
constexpr int64_t kTailFrames = 1984;
constexpr int64_t kBitRate = 128000;
// The slowest a video is written: a second a frame at the lowest speed.
constexpr double kMinOutputRate = 0.01;

} // namespace

AudioLoopLayout audioLoopLayout(double sampleRate, std::size_t sequenceLength, double outputRate) {
    AudioLoopLayout layout;
    layout.loop = std::max<int64_t>(
        std::llround(sampleRate * double(sequenceLength) / std::max(outputRate, kMinOutputRate)),
        1);
    layout.lead = std::min(kLeadFrames, layout.loop - 1);
    layout.tail = layout.loop > 1 ? kTailFrames : 0;
    return layout;
}

SampleTime writeAudioLoop(const SegmentAudio& audio, const std::vector<int>& sequence,
                          double frameRate, double outputRate, const AudioChunkSink& sink,
                          const ProgressCallback& progress, std::stop_token stop) {
    if (sequence.empty())
        throw kavloError(kAudioLoopBuildFailed, "Could not build audio loop.");
    const int channels = audio.channelCount;
    const int64_t sourceFrames = audio.frameCount();
    if (channels < 1 || sourceFrames < 1)
        throw kavloError(kAudioLoopBuildFailed, "Could not build audio loop.");

    const double sampleRate = audio.sampleRate;
    const AudioLoopLayout layout = audioLoopLayout(sampleRate, sequence.size(), outputRate);
    const int64_t total = layout.total();
    const double n = double(sequence.size());
    const int last = int(sequence.size()) - 1;
    // Video frames advanced per output sample frame, and source sample
    // frames per source video frame.
    const double videoFramesPerSample = outputRate / sampleRate;
    const double samplesPerVideoFrame = sampleRate / std::max(frameRate, 1.0);
    const float* samples = audio.samples.data();

    std::vector<float> chunk;
    for (int64_t p = 0; p < total; p += kAudioLoopChunkFrames) {
        throwIfCancelled(stop);
        const int64_t c = std::min<int64_t>(total - p, kAudioLoopChunkFrames);
        chunk.assign(std::size_t(c) * channels, 0.0f);
        for (int64_t j = 0; j < c; ++j) {
            // Position in the written video, wrapped into [0, n): the lead-in
            // comes from the loop's end and the tail from its start.
            const int64_t u = p + j - layout.lead;
            double x = std::fmod(videoFramesPerSample * double(u), n);
            if (x < 0)
                x += n;
            const int i0 = std::clamp(int(std::floor(x)), 0, last);
            const int i1 = (i0 + 1) % int(sequence.size());
            const double s0 = sequence[i0];
            const double s1 = sequence[i1];
            // Between two video frames the source position moves linearly,
            // forward or backward.
            const double s = s0 + (x - i0) * (s1 - s0);
            const double k = s * samplesPerVideoFrame;
            const int64_t k0 = std::clamp<int64_t>(int64_t(std::floor(k)), 0, sourceFrames - 1);
            const int64_t k1 = std::min(k0 + 1, sourceFrames - 1);
            const float w = float(k - double(k0));
            const float* a = samples + k0 * channels;
            const float* b = samples + k1 * channels;
            float* out = chunk.data() + j * channels;
            for (int ch = 0; ch < channels; ++ch)
                out[ch] = a[ch] + (b[ch] - a[ch]) * w;
        }
        sink(chunk, p);
        if (progress)
            progress(double(p + c) / double(total));
    }
    return {layout.lead, int(std::lround(sampleRate))};
}

SampleTime writeAudioLoopFile(const SegmentAudio& audio, const std::vector<int>& sequence,
                              double frameRate, double outputRate,
                              const std::filesystem::path& path, const ProgressCallback& progress,
                              std::stop_token stop) {
    AacFileWriter writer(path, audio.sampleRate, audio.channelCount, kBitRate, audio.channelMask);
    const SampleTime offset = writeAudioLoop(
        audio, sequence, frameRate, outputRate,
        [&](std::span<const float> interleaved, int64_t) { writer.write(interleaved); }, progress,
        stop);
    writer.finish();
    return offset;
}

} // namespace kavlo
