#include "media/thumbnail_decoder.h"

#include "media/ffmpeg.h"

#include <algorithm>
#include <cstdlib>

namespace kavlo {

namespace {

// Without an index to say where key frames lie, decoding on is assumed to
// beat a seek back to a key frame for times up to this far ahead.
constexpr Microseconds kNear{1'000'000};

} // namespace

ThumbnailDecoder::ThumbnailDecoder(const std::filesystem::path& file)
    : stream_(file.native(), MediaKind::video, 1) {}

bool ThumbnailDecoder::worthContinuing(SourceTime t, Microseconds tolerance) const {
    if (!positioned_ || (!current_ && !upcoming_))
        return false;
    const SourceTime from = current_ ? current_->start : upcoming_->start;
    if (!stream_.timing().startedBy(from.us(), (t - tolerance).us()))
        return false;
    // The index (complete in MP4) says where the last key frame before
    // t + tolerance lies; when that is ahead of here, a seek gets there
    // sooner, or finds a key frame that serves as it is. (Index times are
    // decoding times, a few frames early at most.)
    if (const std::optional<SourceTime> key = stream_.keyFrameAtOrBefore(t + tolerance))
        return *key <= from;
    return t - from <= kNear;
}

Frame ThumbnailDecoder::frameFor(SourceTime t, Microseconds tolerance) {
    try {
        // Without a key frame in reach, the earliest frame still on screen
        // at t - tolerance is the closest to the key frame, so the fewest
        // frames are decoded to get it.
        const SourceTime reach = t - tolerance;
        if (worthContinuing(t, tolerance))
            return decodeForwardTo(reach);

        // The last key frame at or before t + tolerance.
        positioned_ = false;
        current_.reset();
        upcoming_.reset();
        stream_.seekToKeyPacket(t + tolerance);
        if (const std::optional<SourceTime> key = stream_.heldPacketStart();
            key && std::abs((*key - t).count()) <= tolerance.count())
            return decodeKeyFrame();
        // An inexact index can land after t, and past the last key frame a
        // seek finds nothing; go back further until neither happens.
        const auto landedWrong = [&] {
            const std::optional<SourceTime> start = stream_.heldPacketStart();
            return !stream_.holdsKeyPacket() ||
                   (start && !stream_.timing().startedBy(start->us(), t.us()));
        };
        SourceTime target = t;
        for (Microseconds back{1'000'000}; landedWrong() && target > SourceTime(); back *= 2) {
            target = std::max(t - back, SourceTime());
            stream_.seekToKeyPacket(target);
        }
        return decodeForwardTo(reach);
    } catch (...) {
        positioned_ = false;
        throw;
    }
}

Frame ThumbnailDecoder::decodeKeyFrame() {
    const std::optional<SourceTime> start = stream_.heldPacketStart();
    if (lastKey_ && start && lastKeyStart_ == start)
        return lastKey_.share();
    std::optional<DecodedFrame> key = stream_.decodeHeldPacket();
    if (!key)
        return Frame();
    lastKey_ = key->frame.share();
    lastKeyStart_ = start;
    return std::move(key->frame);
}

Frame ThumbnailDecoder::decodeForwardTo(SourceTime t) {
    positioned_ = true;
    // A frame that is over by t and that no other frame refers to cannot
    // be the one on screen: not decoding it saves a good part of the run.
    stream_.skipUnreferencedBefore(t);
    const FrameTiming& timing = stream_.timing();
    for (;;) {
        if (!upcoming_) {
            if (betweenFrames_)
                betweenFrames_();
            upcoming_ = stream_.next();
        }
        if (!upcoming_) // the track ends before t: its last frame stays on screen
            return current_ ? current_->frame.share() : Frame();
        if (!timing.startedBy(upcoming_->start.us(), t.us()))
            // Before the first frame, the first one shows.
            return (current_ ? current_->frame : upcoming_->frame).share();
        current_ = std::move(upcoming_);
        upcoming_.reset();
        // The container's frame length can settle it without decoding on.
        if (timing.surelyOnScreen(current_->start.us(), current_->length.count(), t.us()))
            return current_->frame.share();
    }
}

std::optional<Picture> ThumbnailDecoder::pictureFor(SourceTime t, Microseconds tolerance, int width,
                                                    int height) {
    const Frame frame = frameFor(t, tolerance);
    if (!frame)
        return std::nullopt;
    return shape(frame, width, height);
}

SourceTime ThumbnailDecoder::nearestKeyFrame(SourceTime t) const {
    const std::optional<SourceTime> before = stream_.keyFrameAtOrBefore(t);
    if (!before)
        return t;
    // A key frame after t and no farther from it than the one before.
    const std::optional<SourceTime> after = stream_.keyFrameAtOrBefore(t + (t - *before));
    return after && *after > t ? *after : *before;
}

std::optional<ThumbnailDecoder::KeyPicture> ThumbnailDecoder::keyPictureFor(SourceTime t, int width,
                                                                            int height) {
    positioned_ = false;
    current_.reset();
    upcoming_.reset();
    // Index times are decoding times, as the seek's are: it lands on the
    // key frame chosen.
    stream_.seekToKeyPacket(nearestKeyFrame(t));
    if (!stream_.holdsKeyPacket())
        return std::nullopt;
    const std::optional<SourceTime> start = stream_.heldPacketStart();
    const Frame frame = decodeKeyFrame();
    if (!frame)
        return std::nullopt;
    return KeyPicture{shape(frame, width, height), start};
}

Picture ThumbnailDecoder::shape(const Frame& frame, int width, int height) {
    if (!shaper_ || width != shapedWidth_ || height != shapedHeight_) {
        shaper_.emplace(track(), width, height);
        shapedWidth_ = width;
        shapedHeight_ = height;
    }
    return shaper_->shape(frame);
}

} // namespace kavlo
