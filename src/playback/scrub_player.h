// Shows single frames of a source while the user drags: always paused, only
// seeked. Each seek lands on the frame on screen at the requested time
// (tolerance or not: landing exactly costs no more once decoding is needed,
// and nothing when the frame is cached). A seek that has to decode a long
// way from a key frame shows frames on the way first, the key frame within
// a frame's decoding time, so a drag never waits long for a picture.
// Decoding runs on the ScrubWorker's thread, so no call here waits for it;
// the worker wakes this player, which then takes what the worker has for the
// current item. A picture the worker already made for the view is shown
// without involving it.
//
// UI thread only; seek completions and frameChanged() arrive there.
#pragma once

#include "playback/player_base.h"

#include <memory>

namespace kavlo {

class ScrubWorker;

class ScrubPlayer : public PlayerBase {
    Q_OBJECT

  public:
    explicit ScrubPlayer(QObject* parent = nullptr);
    ~ScrubPlayer() override;

    // A scrub player never loops; `looping` is ignored. Nothing is shown
    // until the first seek.
    void setItem(const std::string& path, Looping looping = Looping::off) override;
    void clearItem() override;
    // A scrub player stays paused: it shows the frames it is seeked to.
    // Pausing it also stops its work ahead (decoding near the frame shown)
    // until the next seek, leaving the processor to others.
    void play() override {}
    void pause() override;
    void abandonSeeks() override;
    void seek(double timeSeconds, double toleranceSeconds, SeekCompletion done = {}) override;
    void setViewSize(PixelSize size) override;

  signals:
    // The item could not be opened or decoded.
    void failed(const QString& message);

  private:
    void changeItem(const std::string& path);
    // After a wake-up from the worker.
    void takeReports();

    uint64_t item_ = 0;
    // Seeks given to the worker whose completion has not arrived yet.
    int workerSeeks_ = 0;
    std::unique_ptr<ScrubWorker> worker_;
};

} // namespace kavlo
