#include "sound_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kavlo::test {

void expectSoundFollowsPicture(const std::filesystem::path& source,
                               const std::filesystem::path& output, int channel,
                               const RenderedTimeline& timeline, double tolerance, double soundEnd,
                               double lengthTolerance) {
    const DecodedAudio original = decodeAudio(source), audio = decodeAudio(output);
    const DecodedVideo video = decodeVideo(output);
    // Output time zero is the first picture's, and the sound starts there.
    // (A WebM's file starts earlier, with the Opus priming its players drop.)
    ASSERT_FALSE(video.frames.empty());
    const double origin = video.frames.front().time;
    EXPECT_NEAR(audio.firstSampleSeconds, origin, 0.5 / audio.sampleRate);
    EXPECT_NEAR(audio.trackSeconds, video.trackSeconds,
                std::max(lengthTolerance, 1.0 / audio.sampleRate));
    const std::vector<int>& sequence = timeline.sequence;
    const double outputRate = timeline.frameRate * timeline.speed;
    auto frameAt = [&](std::size_t position) { return sequence[position % sequence.size()]; };
    auto sourceTime = [&](std::size_t position) {
        return timeline.trimStart + frameAt(position) / timeline.frameRate;
    };
    // A window over a turn hears the tone run forward and then backward,
    // and the two halves cancel; those times say nothing about loudness.
    auto windowTurns = [&](double t) {
        const auto first = std::size_t(std::max(t - kLoudnessWindow / 2, 0.0) * outputRate);
        const auto last = std::size_t((t + kLoudnessWindow / 2) * outputRate) + 1;
        for (std::size_t i = first + 1; i < last; ++i)
            if ((frameAt(i) - frameAt(i - 1)) * (frameAt(i + 1) - frameAt(i)) < 0)
                return true;
        return false;
    };
    for (int j = 0; j < 12; ++j) {
        // Twelve times spread over the output, each with a whole window.
        const double t =
            kLoudnessWindow / 2 + (j + 0.5) / 12 * (video.trackSeconds - kLoudnessWindow);
        if (windowTurns(t))
            continue;
        const auto i = std::size_t(t * outputRate);
        const double a = sourceTime(i), b = sourceTime(i + 1);
        const double heard =
            toneAmplitude(audio, channel, origin + t, kLoudnessWindow, 1000 * timeline.speed);
        if (std::min(a, b) > soundEnd + 0.05) {
            EXPECT_LT(heard, 0.01) << "at " << t << " s";
        }
        if (std::max(a, b) > soundEnd - 0.05)
            continue;
        // kLoudnessWindow of output holds kLoudnessWindow * speed of source.
        double quietest = 1, loudest = 0;
        for (int step = 0; step <= 4; ++step) {
            const double level = toneAmplitude(original, channel, a + (b - a) * step / 4,
                                               kLoudnessWindow * timeline.speed, 1000);
            quietest = std::min(quietest, level);
            loudest = std::max(loudest, level);
        }
        EXPECT_GE(heard, quietest - tolerance) << "at " << t << " s";
        EXPECT_LE(heard, loudest + tolerance) << "at " << t << " s";
    }
}

SoundAlignment soundAlignmentAt(const DecodedAudio& original, const DecodedAudio& output,
                                int channel, const RenderedTimeline& timeline, double outputSeconds,
                                int maxLag) {
    const std::vector<int>& sequence = timeline.sequence;
    const double n = double(sequence.size());
    // The source at output frame m (fractional), as the audio loop maps it:
    // the position in the written video, wrapped into the cycle, its source
    // frame interpolated between two entries, then the source's samples
    // interpolated at that time.
    auto sourceAt = [&](double m) {
        double x = std::fmod(m / output.sampleRate * timeline.frameRate * timeline.speed, n);
        if (x < 0)
            x += n;
        const auto i0 = std::size_t(x);
        const double s0 = sequence[i0], s1 = sequence[(i0 + 1) % sequence.size()];
        const double seconds =
            timeline.trimStart + (s0 + (x - double(i0)) * (s1 - s0)) / timeline.frameRate;
        const double k = (seconds - original.firstSampleSeconds) * original.sampleRate;
        const auto k0 = int64_t(std::floor(k));
        if (k0 < 0 || k0 + 1 >= original.frameCount())
            return 0.0;
        const double a = original.at(k0, channel), b = original.at(k0 + 1, channel);
        return a + (k - double(k0)) * (b - a);
    };
    const auto first = int64_t(std::llround(outputSeconds * output.sampleRate));
    SoundAlignment best{0, -1};
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (int64_t m = first; m < first + 2048; ++m) {
            const double x = output.at(m, channel), y = sourceAt(double(m + lag));
            xy += x * y, xx += x * x, yy += y * y;
        }
        const double correlation = xy / std::sqrt(xx * yy);
        if (correlation > best.correlation)
            best = {lag, correlation};
    }
    return best;
}

} // namespace kavlo::test
