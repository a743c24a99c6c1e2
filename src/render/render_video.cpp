#include "render/render_video.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/temporary_file.h"
#include "render/audio_loop.h"
#include "render/audio_reader.h"
#include "render/final_mp4.h"
#include "render/frame_reader.h"
#include "render/memory_budget.h"
#include "render/ping_pong.h"
#include "render/render_progress.h"
#include "render/segment_feed.h"
#include "render/video_writer.h"
#include "render/written_rate.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <stop_token>
#include <thread>

namespace kavlo {

namespace {

// Builds the sound on a thread of its own while x264 encodes the picture:
// the encoder leaves a core idle in its start-up and flush, which is where
// most of the sound's work then fits. The sound's progress is held back and
// replayed once the picture is written, so callers see the picture's stage
// followed by the sound's. A failure of either stops the other. What is
// reported: Cancelled when `stop` was requested, whatever either side
// threw because of it; else the picture's failure; else the sound's (the
// picture then only stopped because of it).
template <typename WriteVideo, typename WriteSound>
std::optional<SampleTime> writeVideoAndSound(WriteVideo&& writeVideo, WriteSound&& writeSound,
                                             OverlapProgress& overall, std::stop_token stop) {
    std::stop_source stopBoth;
    const std::stop_callback forward(stop, [&] { stopBoth.request_stop(); });
    std::vector<double> soundReports;
    std::exception_ptr soundFailure, videoFailure;
    bool videoStopped = false;
    std::optional<SampleTime> offset;
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
        } catch (const Cancelled&) {
            videoStopped = true;
        } catch (...) {
            videoFailure = std::current_exception();
            stopBoth.request_stop();
        }
    }
    throwIfCancelled(stop);
    if (videoFailure)
        std::rethrow_exception(videoFailure);
    if (soundFailure)
        std::rethrow_exception(soundFailure);
    if (videoStopped)
        throw Cancelled();
    for (double p : soundReports) {
        throwIfCancelled(stop);
        overall.sound(p);
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
    ExportFiles files(sourcePath, outputPath);
    PartialOutput& output = files.output;
    InputFile& source = files.source;
    SegmentPlan plan = planSegment(source, trimStart, trimEnd, options.fitWithin);
    checkRenderMemory(plan.memoryFrames(), plan.size.width, plan.size.height,
                      options.availableMemory);
    const double outputRate = plan.frameRate * std::max(speed, 0.01);
    const RenderSize rateSize =
        options.rateAsAtFullSize ? computeRenderSize(*source.info().video) : plan.size;
    double maxRate = maxWrittenFrameRate(rateSize.width, rateSize.height);
    if (options.maxFrameRate > 0)
        maxRate = std::min(options.maxFrameRate, maxRate);
    // What is written of the loop of `frameCount` pictures.
    auto writtenOf = [&](int frameCount) {
        return capWrittenRate(pingPongIndexSequence(frameCount, loops),
                              pingPongIndexSequence(frameCount, 1).size(), outputRate, maxRate);
    };
    // Pictures that the segment's written sequence does not show are not
    // made, when it gives all it may (the feed reads them after all when it
    // ends sooner).
    const int mostFrames = int(plan.expected);
    {
        std::vector<bool> shown(std::size_t(mostFrames), false);
        for (int index : writtenOf(mostFrames).sequence)
            shown[std::size_t(index)] = true;
        if (std::find(shown.begin(), shown.end(), false) != shown.end())
            plan.leftOut = [shown = std::move(shown)](int index) {
                return index >= 0 && std::size_t(index) < shown.size() && !shown[index];
            };
    }

    // Pictures that no sequence the segment may still give shows (its
    // trimmed edges) are let go as soon as that is known. The feed has the
    // file to itself from here on.
    SegmentFeed feed(source, plan, stop, [mostFrames](int index, int read) {
        return neverShown(index, read, mostFrames);
    });

    // The sound is read from a file of its own while the feed decodes the
    // first pictures: the encoder starts only once they are there, so the
    // time this takes is then off the render's way. A failure to read it
    // counts only after the picture's own.
    std::optional<SegmentAudio> audio;
    std::exception_ptr audioFailure;
    try {
        if (options.sound && source.info().audio) {
            InputFile soundSource(sourcePath.string());
            audio = readSegmentAudio(soundSource, trimStart, trimEnd, stop);
        }
    } catch (const Cancelled&) {
        throw;
    } catch (...) {
        audioFailure = std::current_exception();
    }
    if (audioFailure) {
        checkEnoughFrames(feed.waitForEnd(stop));
        std::rethrow_exception(audioFailure);
    }
    OverlapProgress overall(progress, feed, audio ? kMp4WithSoundShares : kMp4Shares);

    // With sound, picture and sound are written apart and then joined
    // without encoding again. The guards remove both intermediates however
    // this ends.
    std::optional<TemporaryFile> videoFile, audioFile;
    if (audio) {
        videoFile.emplace(newTemporaryPath("video", ".mp4"));
        audioFile.emplace(newTemporaryPath("audio", ".m4a"));
    }

    // Writes the loop of `frameCount` pictures; with sound, returns where
    // the loop starts in the sound written, or nothing when the segment
    // gave another number of pictures (the sound is then not written).
    auto writeLoop = [&](int frameCount) -> std::optional<SampleTime> {
        const std::vector<int> sequence = pingPongIndexSequence(frameCount, loops);
        const WrittenFrames shown = writtenOf(frameCount);
        auto writeVideo = [&](const std::filesystem::path& path, std::stop_token token) {
            writePingPongVideo([&feed, token](int index) { return feed.waitFor(index, token); },
                               shown.sequence, path, plan.size.width, plan.size.height, shown.rate,
                               [&](double p) { overall.writing(p); }, token, options.video,
                               /*indexAtFront=*/!audio);
        };
        if (!audio) {
            writeVideo(output.path(), stop);
            return std::nullopt;
        }
        return writeVideoAndSound(
            [&](std::stop_token token) { writeVideo(videoFile->path(), token); },
            [&](const ProgressCallback& soundProgress,
                std::stop_token token) -> std::optional<SampleTime> {
                // Decoding goes first: the encoder waits for it, the sound
                // is needed only at the end.
                if (feed.waitForEnd(token) != frameCount)
                    return std::nullopt;
                return writeAudioLoopFile(*audio, sequence, plan.frameRate, shown.sequenceRate,
                                          audioFile->path(), soundProgress, token);
            },
            overall, stop);
    };
    // Encoding starts with the first pictures, assuming the segment gives
    // all it may.
    const SegmentPass written = passOverSegment(feed, writeLoop, stop);
    overall.writing(1.0);

    if (audio)
        assembleFinalMP4(videoFile->path(), audioFile->path(), output.path(), *written.result);
    output.commit();
    overall.report(1.0);
    return {written.frameCount, plan.frameRate, plan.size, plan.fitted};
}

} // namespace kavlo
