// What the editing session needs from a media player: one item at a time,
// play and pause, the current time, seeks that report whether they finished,
// periodic time callbacks, and looping of the one item.
//
// The contract sits in a module of its own so that the session depends on
// it and not on the engine: the playback engine (src/playback) implements
// it, and so does the fake the session tests use. Nothing here knows about
// threads: every call is made on the UI thread, and every callback arrives
// there too, never from inside the call that caused it.
#pragma once

#include <functional>
#include <string>

namespace kavlo {

class FrameSource;

class Player {
  public:
    // Called once per seek with true when the player shows the requested
    // time, false when the seek was superseded by a newer seek or an item
    // change, or when there was nothing to seek. A player destroyed with
    // seeks outstanding drops their completions without calling them.
    using SeekCompletion = std::function<void(bool finished)>;
    // Called with the player's current time in seconds.
    using TimeCallback = std::function<void(double timeSeconds)>;
    using ObserverId = int;

    enum class Looping { off, on };

    virtual ~Player() = default;

    // Replaces the item with the media file at `path` and pauses. The first
    // frame appears without playing. With Looping::on the item repeats
    // without a gap for as long as it plays. Pending seeks complete with false.
    virtual void setItem(const std::string& path, Looping looping = Looping::off) = 0;
    // Removes the item: nothing is shown, the current time is 0.
    virtual void clearItem() = 0;
    virtual bool hasItem() const = 0;

    // Plays at rate 1 from the current time.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;

    // Time of the frame on screen in seconds from the start of the item; for
    // a looping item it starts again at 0 with every repetition.
    virtual double currentTimeSeconds() const = 0;

    // Shows the frame on screen at `timeSeconds`; a frame up to
    // `toleranceSeconds` before or after it is acceptable. A newer seek
    // supersedes this one unless it has already started; a player may also
    // end a started seek early for a newer one. While the frame is being
    // decoded, the player may show frames near it on the way (completion
    // comes with the frame itself).
    virtual void seek(double timeSeconds, double toleranceSeconds, SeekCompletion done = {}) = 0;
    // Ends the seeks under way or waiting early: they complete with false
    // and the frame on screen stays. For a player whose seeks are long
    // enough to be worth giving the processor away; others ignore it.
    virtual void abandonSeeks() {}

    // Calls `callback` every `intervalSeconds` while playing, and once
    // whenever the time jumps (a seek lands, the item changes, playback
    // starts or stops).
    virtual ObserverId addPeriodicTimeObserver(double intervalSeconds, TimeCallback callback) = 0;
    virtual void removeTimeObserver(ObserverId id) = 0;

    // The pictures this player shows, for a video surface to draw; null for
    // a player that shows none (a test fake). Owned by the player.
    virtual FrameSource* pictures() { return nullptr; }
};

} // namespace kavlo
