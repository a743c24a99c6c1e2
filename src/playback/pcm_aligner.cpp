#include "playback/pcm_aligner.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kavlo {

namespace {
constexpr int64_t kContiguousFrames = 2;
}

void PcmAligner::restart(uint64_t serial, int64_t startUs) {
    serial_ = serial;
    segmentFrom_ = previousFrom_ = 0;
    segmentStartUs_ = previousStartUs_ = startUs;
    written_ = 0;
    primed_ = false;
    chunk_.reset();
    chunkOffset_ = 0;
}

namespace {
int64_t framesToUs(int64_t frames) {
    return static_cast<int64_t>(std::llround(frames * (1e6 / kOutputRate)));
}
} // namespace

int64_t PcmAligner::streamFrameOf(int64_t ptsUs) const {
    return segmentFrom_ +
           static_cast<int64_t>(std::llround((ptsUs - segmentStartUs_) * (kOutputRate / 1e6)));
}

int64_t PcmAligner::timeOfFrameUs(int64_t n) const {
    if (n < segmentFrom_)
        return previousStartUs_ + framesToUs(n - previousFrom_);
    return segmentStartUs_ + framesToUs(n - segmentFrom_);
}

void PcmAligner::skip(int64_t byUs) {
    const int64_t nextUs = timeOfFrameUs(written_);
    previousFrom_ = segmentFrom_;
    previousStartUs_ = segmentStartUs_;
    segmentFrom_ = written_;
    segmentStartUs_ = nextUs + byUs;
}

bool PcmAligner::takeChunk(AudioQueue& queue) {
    while (!chunk_) {
        chunk_ = queue.pop();
        chunkOffset_ = 0;
        if (!chunk_)
            return false;
        if (chunk_->serial != serial_)
            chunk_.reset();
    }
    primed_ = true;
    return true;
}

bool PcmAligner::prime(AudioQueue& queue) {
    takeChunk(queue);
    return primed_;
}

int64_t PcmAligner::fill(AudioQueue& queue, int16_t* out, int64_t maxFrames,
                         int64_t maxSilenceFrames) {
    int64_t n = 0;
    auto silence = [&](int64_t frames) {
        std::memset(out + n * kOutputChannels, 0, frames * kOutputChannels * sizeof(int16_t));
        n += frames;
        written_ += frames;
    };
    while (n < maxFrames) {
        if (!takeChunk(queue)) {
            silence(std::min(maxSilenceFrames, maxFrames - n));
            break;
        }
        const int64_t chunkStart = streamFrameOf(chunk_->ptsUs) + chunkOffset_;
        const int64_t available = chunk_->frames() - chunkOffset_;
        if (available <= 0 || chunkStart + available <= written_) {
            chunk_.reset(); // nothing left, or all of it too late
            continue;
        }
        if (chunkStart < written_ - kContiguousFrames) {
            chunkOffset_ += written_ - chunkStart; // its head is too late
            continue;
        }
        if (chunkStart > written_ + kContiguousFrames) {
            silence(std::min(chunkStart - written_, maxFrames - n));
            continue;
        }
        const int64_t take = std::min(available, maxFrames - n);
        std::memcpy(out + n * kOutputChannels,
                    chunk_->samples.data() + chunkOffset_ * kOutputChannels,
                    take * kOutputChannels * sizeof(int16_t));
        n += take;
        written_ += take;
        chunkOffset_ += take;
        if (chunkOffset_ >= chunk_->frames())
            chunk_.reset();
    }
    return n;
}

} // namespace kavlo
