#include "playback/audio_queue.h"

namespace kavlo {

bool AudioQueue::push(AudioChunk chunk, std::stop_token stop,
                      const std::function<bool()>& abandon) {
    std::unique_lock lock(mutex_);
    // A chunk larger than the whole queue still goes into an empty one.
    const bool room = space_.wait(lock, stop, [&] {
        return frames_ == 0 || frames_ + chunk.frames() <= capacityFrames_ || abandon();
    });
    if (!room || abandon())
        return false;
    frames_ += chunk.frames();
    chunks_.push_back(std::move(chunk));
    return true;
}

std::optional<AudioChunk> AudioQueue::pop() {
    std::optional<AudioChunk> chunk;
    {
        std::lock_guard lock(mutex_);
        if (chunks_.empty())
            return std::nullopt;
        chunk = std::move(chunks_.front());
        chunks_.pop_front();
        frames_ -= chunk->frames();
    }
    space_.notify_all();
    return chunk;
}

void AudioQueue::clear() {
    {
        std::lock_guard lock(mutex_);
        chunks_.clear();
        frames_ = 0;
    }
    space_.notify_all();
}

void AudioQueue::wake() {
    { std::lock_guard lock(mutex_); }
    space_.notify_all();
}

} // namespace kavlo
