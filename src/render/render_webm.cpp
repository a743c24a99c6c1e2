#include "render/render_webm.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "render/audio_loop.h"
#include "render/audio_reader.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/render_progress.h"
#include "render/written_rate.h"

#include <algorithm>
#include <span>

namespace kavlo {

namespace {

// Hands the writer the loop itself: the audio loop's lead-in and tail are
// for the MP4's cut, and a WebM's sound starts and ends with its picture.
void writeSound(const SegmentAudio& segment, const std::vector<int>& sequence, double frameRate,
                double sequenceRate, WebmWriter& writer, const ProgressCallback& progress,
                std::stop_token stop) {
    SegmentAudio audio;
    audio.sampleRate = kOpusSampleRate;
    audio.channelCount = segment.channelCount;
    audio.samples = resampleForOpus(segment.samples, segment.channelCount, segment.channelMask,
                                    segment.sampleRate);
    if (audio.frameCount() < 1)
        return;
    const AudioLoopLayout layout = audioLoopLayout(kOpusSampleRate, sequence.size(), sequenceRate);
    const int channels = audio.channelCount;
    writeAudioLoop(
        audio, sequence, frameRate, sequenceRate,
        [&](std::span<const float> interleaved, int64_t firstFrame) {
            const int64_t frames = int64_t(interleaved.size()) / channels;
            const int64_t from = std::clamp<int64_t>(layout.lead - firstFrame, 0, frames);
            const int64_t to =
                std::clamp<int64_t>(layout.lead + layout.loop - firstFrame, 0, frames);
            if (to > from)
                writer.addSound(interleaved.subspan(std::size_t(from * channels),
                                                    std::size_t((to - from) * channels)));
        },
        progress, stop);
}

} // namespace

RenderResult renderPingPongWebM(const std::filesystem::path& sourcePath,
                                const std::filesystem::path& outputPath, double trimStart,
                                double trimEnd, double speed, int loops,
                                const ProgressCallback& progress, std::stop_token stop,
                                const WebmRenderOptions& options) {
    ExportFiles files(sourcePath, outputPath);
    PartialOutput& output = files.output;
    InputFile& source = files.source;
    std::optional<SegmentAudio> audio;
    if (options.sound)
        audio = readSegmentAudio(source, trimStart, trimEnd, stop);
    RenderFrames segment =
        readRenderFrames(source, trimStart, trimEnd, progress, kWebmShares.read, stop,
                         /*fullChroma=*/false, options.availableMemory, options.fitWithin);
    const std::vector<Picture>& frames = segment.pictures;
    const RenderSize size = segment.size;
    const int frameCount = static_cast<int>(frames.size());

    const std::vector<int> sequence = pingPongIndexSequence(frameCount, loops);
    const double outputRate = segment.frameRate * std::max(speed, 0.01);
    const WrittenFrames shown = capWrittenRate(
        sequence, pingPongIndexSequence(frameCount, 1).size(), outputRate,
        options.maxFrameRate > 0
            ? std::min(options.maxFrameRate, maxWrittenFrameRate(size.width, size.height))
            : maxWrittenFrameRate(size.width, size.height));
    const std::size_t period = repeatingPeriod(shown.sequence);

    auto share = [&](double from, double to) -> ProgressCallback {
        if (!progress)
            return {};
        return [&progress, from, to](double p) { progress(from + (to - from) * p); };
    };
    std::optional<OpusSound> sound;
    if (audio)
        sound = OpusSound{.channelCount = audio->channelCount};
    WebmWriter writer(output.path(), size.width, size.height, shown.rate, options.video,
                      frames.front(), sound);
    if (audio)
        writeSound(*audio, sequence, segment.frameRate, shown.sequenceRate, writer,
                   share(kWebmShares.read, kWebmShares.sound), stop);

    const ProgressCallback cycleProgress = share(kWebmShares.sound, kWebmShares.cycle);
    for (std::size_t i = 0; i < period; ++i) {
        throwIfCancelled(stop);
        writer.addPicture(frames[shown.sequence[i]]);
        if (cycleProgress)
            cycleProgress(double(i + 1) / double(period));
    }
    throwIfCancelled(stop);
    writer.finish(int(shown.sequence.size() / period),
                  share(kWebmShares.cycle, kWebmShares.repeats));
    output.commit();
    if (progress)
        progress(1.0);
    return {frameCount, segment.frameRate, size};
}

} // namespace kavlo
