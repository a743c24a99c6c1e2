// Plays one item at rate 1, with its sound when a device is there, and loops
// it without a gap when asked: the looping preview of the rendered result.
// The first frame of a new item, and the frame a seek lands on, appear even
// while paused. The current time is the time of the frame on screen; at the
// end of an item that does not loop, its last frame stays there.
//
// The decoding and presenting threads belong to a PreviewPipeline per item;
// replacing the item replaces the pipeline. They only wake this player, which
// then takes the pictures due for its current generation.
//
// UI thread only; seek completions and frameChanged() arrive there.
#pragma once

#include "playback/media_clock.h"
#include "playback/player_base.h"

#include <memory>
#include <optional>

namespace kavlo {

class AudioOutput;
class PreviewPipeline;
class PipelineRetirer;

class PreviewPlayer : public PlayerBase {
    Q_OBJECT

  public:
    struct Options {
        // Play the item's sound on the default device when there is one.
        bool sound = true;
        // Skip frames that are already late (see PreviewPipeline::Options).
        bool dropLateFrames = true;
        // The time the playback clock runs on (tests pass a clock they
        // move).
        MediaClock::NowFn now = steadyNowUs;
    };

    explicit PreviewPlayer(QObject* parent = nullptr);
    explicit PreviewPlayer(Options options, QObject* parent = nullptr);
    ~PreviewPlayer() override;

    void setItem(const std::string& path, Looping looping = Looping::off) override;
    void clearItem() override;
    void play() override;
    void pause() override;
    void seek(double timeSeconds, double toleranceSeconds, SeekCompletion done = {}) override;
    void setViewSize(PixelSize size) override;

    // Frames skipped because they were late, over the current item.
    uint64_t droppedFrames() const;
    // The sound device plays this player's items (false without a device).
    bool hasSoundDevice() const;
    // For measurements: the audio output, or null without a device.
    const AudioOutput* audioOutput() const { return audio_.get(); }
    // For measurements: the playback clock's position on the looped
    // timeline, in microseconds; 0 without an item.
    int64_t clockPositionUs() const;

  signals:
    // The item could not be opened or decoded.
    void failed(const QString& message);

  private:
    void dropPipeline();
    // After a wake-up from the pipeline's threads.
    void takeFromPipeline();
    void fail(const std::string& message);

    Options options_;
    std::unique_ptr<AudioOutput> audio_;
    // Declared before pipeline_: it outlives the pipelines it winds down.
    std::unique_ptr<PipelineRetirer> retirer_;
    std::unique_ptr<PreviewPipeline> pipeline_;
    uint64_t serial_ = 1; // the pipeline's generation
    bool failed_ = false;
    PixelSize viewSize_;
    struct PendingSeek {
        uint64_t ticket;
        uint64_t serial;
    };
    std::optional<PendingSeek> pendingSeek_;
};

} // namespace kavlo
