// The two players: how they are fed, how the picture switches between them
// without flashing, and how the playhead follows the looping preview.
//
// `player_` shows the result: the rendered preview, looped (before the first
// preview, the source, paused). `scrubPlayer_` shows single source frames
// while a handle is dragged or a frame is marked; the window shows its
// picture over the preview while scrubOverlayVisible is true.
// previewRevealGeneration_ counts changes of who is in charge; a pending
// step that would hide the overlay acts only if it is still the same.
#include "session/model.h"

#include <algorithm>
#include <chrono>

namespace kavlo {

namespace {
constexpr std::chrono::milliseconds kFrameResumeDelay{300};
constexpr std::chrono::milliseconds kRevealPollInterval{16};
constexpr int kRevealRounds = 90; // about 1.44 s
} // namespace

PreviewMapping Model::mapping() const {
    return {.sourceFrames = prepared_.sourceFrames,
            .trimStart = prepared_.trimStart,
            .speed = prepared_.speed,
            .fps = fps_};
}

void Model::setPlayerItem(const std::filesystem::path& file) {
    player_->pause();
    player_->setItem(file.native(), Player::Looping::off);
    installedPreview_.reset();
    deleteUnusedPreviews();
}

void Model::stopPlayers() {
    player_->pause();
    player_->clearItem();
    installedPreview_.reset();
    scrubPlayer_->pause();
    scrubPlayer_->clearItem();
    deleteUnusedPreviews();
}

void Model::beginScrub(TrimHandle handle) {
    cancelFrameResume();
    scrubbing_ = handle;
    ++previewRevealGeneration_;
    // Hidden until the first scrub seek has landed, so that no stale frame
    // of the scrub player flashes.
    setOverlay(false);
    player_->pause();
    scrubPlayer_->pause();
    if (!scrubPlayer_->hasItem() && url_)
        scrubPlayer_->setItem(url_->native());
}

void Model::seekDisplayed(double t) {
    const double tolerance = std::max(1.0 / fps_, 0.01);
    if (!scrubbing_) {
        player_->seek(previewTime(t), tolerance);
        return;
    }
    // Completions arrive from the event loop while the scrub player, which
    // the Model owns, exists; whether the seek finished or was superseded,
    // the picture is there to be shown unless the scrub has ended.
    scrubPlayer_->seek(t, tolerance, [this](bool) {
        if (scrubbing_)
            setOverlay(true);
    });
}

double Model::previewTime(double t) const {
    if (prepared_.file && !scrubbing_)
        return previewTimeFor(mapping(), t);
    return t;
}

void Model::cancelFrameResume() {
    if (frameResumeTask_)
        timers_->cancel(*frameResumeTask_);
    frameResumeTask_.reset();
}

void Model::showFrame(double t) {
    if (!url_)
        return;
    cancelFrameResume();
    cancelRender();
    updateBusy();
    if (exports_.empty())
        setProgress(0);
    if (scrubbing_)
        scrubPlayer_->pause();
    else
        beginScrub(TrimHandle::start);
    setPlayhead(t);
    seekDisplayed(t);
    // Several quick marks render once, after the last of them.
    frameResumeTask_ = timers_->start(kFrameResumeDelay, [this] {
        frameResumeTask_.reset();
        Batch batch(*this);
        scrubbing_.reset();
        prepareSmoothPreview();
    });
}

void Model::installPreparedPreview() {
    if (!prepared_.file)
        return;
    const std::uint64_t generation = ++previewRevealGeneration_;
    // The last scrub picture covers the switch until the preview plays.
    setOverlay(true);
    player_->pause();
    player_->setItem(prepared_.file->native(), Player::Looping::on);
    installedPreview_ = prepared_.file;
    deleteUnusedPreviews();
    setPlayhead(prepared_.trimStart);
    player_->seek(0, 0);
    player_->play();
    revealRound(generation, 1);
}

void Model::revealRound(std::uint64_t generation, int round) {
    timers_->start(kRevealPollInterval, [this, generation, round] {
        // A newer scrub or preview owns the overlay now.
        if (previewRevealGeneration_ != generation)
            return;
        const bool playing = player_->hasItem() && player_->currentTimeSeconds() > 0.001;
        if (playing || round >= kRevealRounds) {
            setOverlay(false);
            return;
        }
        revealRound(generation, round + 1);
    });
}

void Model::followPlayer(double playerTime) {
    if (scrubbing_ || !url_)
        return;
    setPlayhead(playheadFor(mapping(), playerTime, end_));
}

} // namespace kavlo
