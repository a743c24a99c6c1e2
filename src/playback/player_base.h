// The UI-thread half shared by both players: the picture and time on screen,
// periodic time observers and the book of seek completions. Subclasses run
// the threads and report back through showFrame() and completeSeek().
//
// UI thread only.
#pragma once

#include "player/frame_source.h"
#include "player/player.h"

#include <QTimer>

#include <map>

namespace kavlo {

class PlayerBase : public FrameSource, public Player {
    Q_OBJECT

  public:
    explicit PlayerBase(QObject* parent = nullptr);
    ~PlayerBase() override;

    VideoImage currentImage() const override { return image_; }
    bool hasItem() const override { return hasItem_; }
    bool isPlaying() const override { return playing_; }
    double currentTimeSeconds() const override { return currentTimeUs_ / 1e6; }
    ObserverId addPeriodicTimeObserver(double intervalSeconds, TimeCallback callback) override;
    void removeTimeObserver(ObserverId id) override;
    FrameSource* pictures() override { return this; }

  protected:
    // Puts a new picture on screen at `ptsUs`.
    void showFrame(VideoImage image, int64_t ptsUs);
    // Replaces the picture of the frame on screen (a new size), same time.
    void replaceImage(VideoImage image);
    void clearFrame();
    // Files a completion and returns its ticket.
    uint64_t fileSeek(SeekCompletion done);
    // Calls the completion filed under `ticket`, once; later calls do nothing.
    void completeSeek(uint64_t ticket, bool finished);
    // Completes `ticket` from the event loop rather than inside the caller.
    void completeSeekLater(uint64_t ticket, bool finished);
    void setHasItem(bool hasItem) { hasItem_ = hasItem; }
    void setPlayingState(bool playing);
    // Tells every observer the current time once.
    void notifyTimeJump();

  private:
    struct Observer {
        TimeCallback callback;
        QTimer* timer; // child of the player
    };

    VideoImage image_;
    int64_t currentTimeUs_ = 0;
    bool hasItem_ = false;
    bool playing_ = false;
    uint64_t nextTicket_ = 1;
    std::map<uint64_t, SeekCompletion> completions_;
    std::map<ObserverId, Observer> observers_;
    ObserverId nextObserverId_ = 1;
};

} // namespace kavlo
