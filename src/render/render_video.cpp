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

constexpr double kReadShare = 0.35;
// With sound: the video is written up to 0.80, the audio up to 0.95, and
// joining the two takes the rest.
constexpr double kVideoWrittenWithSound = 0.80;
constexpr double kAudioWritten = 0.95;

// Thrown by the writer's picture source when the segment ended before a
// picture that the sequence shows: it was built for more pictures.
struct SegmentEndedEarly {};

// Reading and writing overlap, so each report counts both: the pictures
// read so far fill [0, kReadShare] and the writer's own fraction
// [kReadShare, writeEnd]. Only increases are passed on; a sequence written
// again starts its own fraction from 0.
class OverlapProgress {
  public:
    OverlapProgress(const ProgressCallback& progress, const SegmentFeed& feed, double writeEnd)
        : progress_(progress), feed_(feed), writeEnd_(writeEnd) {}

    void writing(double fraction) {
        const double read = std::min(double(feed_.readCount()) / double(feed_.expected()), 1.0);
        report(kReadShare * read + (writeEnd_ - kReadShare) * fraction);
    }
    void report(double p) {
        if (progress_ && p > last_) {
            last_ = p;
            progress_(p);
        }
    }
    // Maps a step's own fraction onto [from, to].
    ProgressCallback share(double from, double to) {
        return [this, from, to](double p) { report(from + (to - from) * p); };
    }

  private:
    const ProgressCallback& progress_;
    const SegmentFeed& feed_;
    double writeEnd_;
    double last_ = 0;
};

// Builds the sound on a thread of its own while x264 encodes the picture:
// the encoder leaves a core idle in its start-up and flush, which is where
// most of the sound's work then fits. The sound's progress is held back and
// replayed once the picture is written, so callers see the picture up to
// 0.80 followed by 0.80 to 0.95 for the sound. A failure of either stops
// the other; the picture's error wins when both fail.
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
    const SegmentPlan plan = planSegment(source, trimStart, trimEnd, options.fitWithin);
    checkRenderMemory(plan.memoryFrames(), plan.size.width, plan.size.height,
                      options.availableMemory);

    // The sound is read first, in a moment; the feed then has the file to
    // itself. A failure to read it counts only after the picture's own.
    std::optional<SegmentAudio> audio;
    std::exception_ptr audioFailure;
    try {
        if (options.sound)
            audio = readSegmentAudio(source, trimStart, trimEnd, stop);
    } catch (const Cancelled&) {
        throw;
    } catch (...) {
        audioFailure = std::current_exception();
    }

    // Pictures that no sequence the segment may still give shows (its
    // trimmed edges) are let go as soon as that is known.
    const int mostFrames = int(plan.expected);
    SegmentFeed feed(source, plan, stop, [mostFrames](int index, int read) {
        return neverShown(index, read, mostFrames);
    });
    if (audioFailure) {
        checkEnoughFrames(feed.waitForEnd(stop));
        std::rethrow_exception(audioFailure);
    }
    const double outputRate = plan.frameRate * std::max(speed, 0.01);
    OverlapProgress overall(progress, feed, audio ? kVideoWrittenWithSound : 1.0);

    // With sound, picture and sound are written apart and then joined
    // without encoding again. The guards remove both intermediates however
    // this ends.
    std::optional<TemporaryFile> videoFile, audioFile;
    if (audio) {
        videoFile.emplace(newTemporaryPath("video", ".mp4"));
        audioFile.emplace(newTemporaryPath("audio", ".m4a"));
    }

    // Encoding starts with the first pictures, assuming the segment gives
    // all E pictures it may; it does unless the track ends inside it. When
    // it gives fewer, the sequence differs, and it is written again from
    // the kept pictures.
    int frameCount = mostFrames;
    SampleTime offset;
    for (;;) {
        const std::vector<int> sequence = pingPongIndexSequence(frameCount, loops);
        const WrittenFrames shown =
            capWrittenRate(sequence, pingPongIndexSequence(frameCount, 1).size(), outputRate,
                           options.maxFrameRate > 0
                               ? std::min(options.maxFrameRate,
                                          maxWrittenFrameRate(plan.size.width, plan.size.height))
                               : maxWrittenFrameRate(plan.size.width, plan.size.height));
        auto pictureSource = [&](std::stop_token token) -> PictureAt {
            return [&feed, token](int index) -> const Picture& {
                const Picture* picture = feed.waitFor(index, token);
                if (!picture)
                    throw SegmentEndedEarly{};
                return *picture;
            };
        };
        auto writeVideo = [&](const std::filesystem::path& path, std::stop_token token) {
            writePingPongVideo(
                pictureSource(token), shown.sequence, path, plan.size.width, plan.size.height,
                shown.rate, [&](double p) { overall.writing(p); }, token, options.video);
        };
        bool written = true;
        try {
            if (!audio) {
                writeVideo(output.path(), stop);
            } else {
                offset = writeVideoAndSound(
                    [&](std::stop_token token) { writeVideo(videoFile->path(), token); },
                    [&](const ProgressCallback& soundProgress, std::stop_token token) {
                        // Decoding goes first: the encoder waits for it,
                        // the sound is needed only at the end.
                        if (feed.waitForEnd(token) != frameCount)
                            return SampleTime{}; // written again with the right count
                        return writeAudioLoopFile(*audio, sequence, plan.frameRate,
                                                  shown.sequenceRate, audioFile->path(),
                                                  soundProgress, token);
                    },
                    overall.share(kVideoWrittenWithSound, kAudioWritten), stop);
            }
        } catch (const SegmentEndedEarly&) {
            written = false;
        }
        const int read = feed.waitForEnd(stop);
        if (written && read == frameCount)
            break;
        checkEnoughFrames(read);
        frameCount = read;
    }
    overall.writing(1.0);

    if (audio) {
        assembleFinalMP4(videoFile->path(), audioFile->path(), output.path(), offset);
    }
    output.commit();
    overall.report(1.0);
    return {frameCount, plan.frameRate, plan.size, plan.fitted};
}

} // namespace kavlo
