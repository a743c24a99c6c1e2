#include "render/render_video.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/temporary_file.h"
#include "render/audio_loop.h"
#include "render/audio_reader.h"
#include "render/final_mp4.h"
#include "render/frame_reader.h"
#include "render/ping_pong.h"
#include "render/video_writer.h"
#include "render/written_rate.h"

#include <algorithm>
#include <exception>
#include <stop_token>
#include <thread>

namespace kavlo {

namespace {

constexpr double kReadShare = 0.35;
// With sound: the video is written up to 0.80, the audio up to 0.95, and
// joining the two takes the rest.
constexpr double kVideoWrittenWithSound = 0.80;
constexpr double kAudioWritten = 0.95;

// Maps a step's own progress fraction onto [from, to] of the render's.
ProgressCallback progressShare(const ProgressCallback& progress, double from, double to) {
    if (!progress)
        return nullptr;
    return [&progress, from, to](double p) { progress(from + (to - from) * p); };
}

// Pictures that the sequence never shows (the trimmed edges) are let go
// before writing starts.
void releaseUnused(std::vector<Picture>& frames, const std::vector<int>& sequence) {
    std::vector<bool> used(frames.size());
    for (int index : sequence)
        used[index] = true;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (!used[i])
            frames[i] = Picture();
}

// Builds the sound on a thread of its own while x264 encodes the picture:
// the encoder leaves a core idle in its start-up and flush, which is where
// most of the sound's work then fits. The sound's progress is held back and
// replayed once the picture is written, so callers still see 0.35 to 0.80
// for the picture followed by 0.80 to 0.95 for the sound. A failure of
// either stops the other; the picture's error wins when both fail.
template <typename WriteVideo, typename WriteSound>
SampleTime writeVideoAndSound(WriteVideo&& writeVideo, WriteSound&& writeSound,
                              const ProgressCallback& soundProgress, std::stop_token stop) {
    std::stop_source stopBoth;
    const std::stop_callback forward(stop, [&] { stopBoth.request_stop(); });
    std::vector<double> soundReports;
    std::exception_ptr soundFailure;
    SampleTime offset;
    {
        std::jthread soundThread([&] {
            try {
                offset =
                    writeSound([&](double p) { soundReports.push_back(p); }, stopBoth.get_token());
            } catch (...) {
                soundFailure = std::current_exception();
                stopBoth.request_stop();
            }
        });
        try {
            writeVideo(stopBoth.get_token());
        } catch (...) {
            stopBoth.request_stop();
            soundThread.join();
            // A cancellation caused by the sound's failure is reported as that failure.
            if (soundFailure && !stop.stop_requested()) {
                try {
                    throw;
                } catch (const Cancelled&) {
                    std::rethrow_exception(soundFailure);
                }
            }
            throw;
        }
    }
    if (soundFailure)
        std::rethrow_exception(soundFailure);
    for (double p : soundReports) {
        throwIfCancelled(stop);
        if (soundProgress)
            soundProgress(p);
    }
    throwIfCancelled(stop);
    return offset;
}

} // namespace

RenderResult renderPingPongVideo(const std::filesystem::path& sourcePath,
                                 const std::filesystem::path& outputPath, double trimStart,
                                 double trimEnd, double speed, int loops,
                                 const ProgressCallback& progress, std::stop_token stop,
                                 const RenderOptions& options) {
    checkOutputIsNotSource(sourcePath, outputPath);
    PartialOutput output(outputPath);
    InputFile source(sourcePath.string());
    RenderFrames segment = readRenderFrames(source, trimStart, trimEnd, progress, kReadShare, stop,
                                            /*fullChroma=*/false, options.availableMemory);
    std::vector<Picture>& frames = segment.pictures;
    const RenderSize size = segment.size;
    const double frameRate = segment.frameRate;
    const int frameCount = static_cast<int>(frames.size());

    const std::optional<SegmentAudio> audio = readSegmentAudio(source, trimStart, trimEnd, stop);
    const std::vector<int> sequence = pingPongIndexSequence(frameCount, loops);
    const WrittenFrames written = capWrittenRate(
        sequence, pingPongIndexSequence(frameCount, 1).size(), frameRate * std::max(speed, 0.01),
        maxWrittenFrameRate(size.width, size.height));
    releaseUnused(frames, written.sequence);

    if (!audio) {
        writePingPongVideo(frames, written.sequence, output.path(), size.width, size.height,
                           written.rate, progressShare(progress, kReadShare, 1.0), stop,
                           options.video);
        output.commit();
        return {frameCount, frameRate};
    }

    // Picture and sound are written apart and then joined without encoding
    // again. The guards remove both intermediates however this ends.
    const TemporaryFile videoFile(newTemporaryPath("video", ".mp4"));
    const TemporaryFile audioFile(newTemporaryPath("audio", ".m4a"));
    const SampleTime offset = writeVideoAndSound(
        [&](std::stop_token token) {
            writePingPongVideo(
                frames, written.sequence, videoFile.path(), size.width, size.height, written.rate,
                progressShare(progress, kReadShare, kVideoWrittenWithSound), token, options.video);
            frames.clear(); // the pictures are in the file now
        },
        [&](const ProgressCallback& soundProgress, std::stop_token token) {
            return writeAudioLoopFile(*audio, sequence, frameRate, written.sequenceRate,
                                      audioFile.path(), soundProgress, token);
        },
        progressShare(progress, kVideoWrittenWithSound, kAudioWritten), stop);
    assembleFinalMP4(videoFile.path(), audioFile.path(), output.path(), offset);
    output.commit();
    if (progress)
        progress(1.0);
    return {frameCount, frameRate};
}

} // namespace kavlo
