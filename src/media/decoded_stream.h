// One track of a local file as decoded frames, pulled one at a time. Every
// reader in the program reads through it: the renderer's pictures and sound,
// both players' decoding threads and the thumbnails.
//
//  - It opens files as InputFile does (local files only, the picture size
//    limits) and reads the first video or audio track.
//  - A seek starts a new generation. The decoder is flushed with it, so no
//    frame decoded before a seek comes out after it, and every frame carries
//    the generation it was decoded in.
//  - Asked to, it leaves undecoded the pictures that are surely over by a
//    time (FrameTiming::surelyOverBy) and that no other picture refers to
//    (Decoder::skipUnreferenced): on the way from a key frame to a later
//    time, they cannot be the one on screen.
//  - Frames carry their start as SourceTime, rescaled from the stream's
//    ticks once, in integers. A frame without a timestamp starts where the
//    one before it ended (its start and length; a microsecond on when the
//    length is unknown), the first one after a seek at the seek's time.
//
// Not thread-safe: one thread owns a stream.
#pragma once

#include "media/av_ptr.h"
#include "media/decoder.h"
#include "media/frame.h"
#include "media/frame_timing.h"
#include "media/input_file.h"
#include "media/source_time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavlo {

enum class MediaKind { video, audio };

struct DecodedFrame {
    Frame frame;
    SourceTime start;
    // From the container for pictures, from the sample count for sound;
    // zero when unknown.
    Microseconds length{0};
    // The seek the frame was decoded after.
    uint64_t generation = 0;
    // True when the frame directly follows the one handed out before it: no
    // seek and no picture left undecoded in between.
    bool contiguous = false;
    // The decoder patched the picture up or found its data invalid; pictures
    // after it may be wrong without saying so. (A missing reference alone is
    // what an open GOP gives after a seek and does not count.)
    bool damaged = false;
};

// Opens a decoder for the video track of `file`, which must have one, and
// decodes nothing: throws Error as DecodedStream would when the track cannot
// be decoded (isMissingDecoder among them).
void checkVideoDecodable(const InputFile& file);

class DecodedStream {
  public:
    // Opens `path` and its first track of `kind`. Throws Error when the file
    // cannot be read, kNoVideoTrackFound / kNoAudioTrack without such a
    // track. `decoderThreads` as for Decoder (0: libavcodec picks).
    DecodedStream(const std::string& path, MediaKind kind, int decoderThreads = 0);
    // Reads a track of a file opened by the caller, who must keep it open;
    // the other tracks are switched off. Starts where the file stands: seek
    // first when another reader had it.
    DecodedStream(InputFile& file, MediaKind kind, int decoderThreads = 0);
    DecodedStream(const DecodedStream&) = delete;
    DecodedStream& operator=(const DecodedStream&) = delete;

    InputFile& file() const { return *file_; }
    int streamIndex() const { return streamIndex_; }
    const FrameTiming& timing() const { return timing_; }
    const AVStream* stream() const { return file_->stream(streamIndex_); }
    // The video track; only for a video stream.
    const VideoTrackInfo& videoTrack() const { return *file_->info().video; }

    SourceTime toSource(StreamTicks ts) const { return SourceTime::fromUs(timing_.toUs(ts.count)); }
    StreamTicks toTicks(SourceTime t) const { return {timing_.toStreamTime(t.us())}; }
    // One tick of the stream's clock in sample frames of sound at `rate`,
    // rounded up: how far timestamps of sound may be off.
    int64_t sampleFramesPerTick(int rate) const;

    // Continues at the key frame at or before `t` as InputFile::seek finds
    // it, in a new generation, which is returned.
    uint64_t seek(SourceTime t);
    uint64_t generation() const { return generation_; }
    // The same, then reads on to the first key packet (a seek by timestamps
    // can land between key frames, where decoding cannot start) and holds
    // it, so that it can be looked at before anything is decoded.
    uint64_t seekToKeyPacket(SourceTime t);
    // After seekToKeyPacket: false when it found no key packet (it landed
    // past the last one); the held packet's start, when it has a timestamp.
    bool holdsKeyPacket() const { return packetHeld_; }
    std::optional<SourceTime> heldPacketStart() const;
    // Decodes the held key packet alone; draining hands it out at once
    // instead of after the decoder's reordering delay. The decoder is left
    // flushed: seek before pulling more. Nothing when it gives no picture.
    std::optional<DecodedFrame> decodeHeldPacket();

    // Pictures surely over by `t` that nothing refers to are not decoded;
    // nothing: every picture is. Applies from the next packet read.
    void skipUnreferencedBefore(std::optional<SourceTime> t) { skipBefore_ = t; }
    // With times (ascending) given, pictures on screen at none of them that
    // nothing refers to are not decoded either: a reader that needs only
    // the pictures of some times. Empty: no such rule. Applies from the
    // next packet read.
    void skipUnreferencedOffScreen(std::vector<SourceTime> shownAt) {
        shownAt_ = std::move(shownAt);
    }
    // See Decoder::skipLoopFilter; for video, set before the first packet.
    void skipLoopFilter(bool skip) { decoder_.skipLoopFilter(skip); }
    // True when pictures were left undecoded since the last seek.
    bool skippedSinceSeek() const { return skippedSinceSeek_; }
    // The latest time before which pictures may be missing since the last
    // seek; nothing when none are.
    std::optional<SourceTime> skippedBefore() const { return skippedBefore_; }

    // The next frame in presentation order; nothing at the end of the track.
    // Throws Error when decoding fails (damaged packets are counted, not
    // thrown: the decoder conceals them).
    std::optional<DecodedFrame> next();
    // True once the last frame has been handed out.
    bool atEnd() const { return decoder_.drained(); }
    // Packets the decoder rejected as damaged.
    int corruptPackets() const { return decoder_.corruptPackets(); }
    // Frames handed out marked damaged.
    int damagedFrames() const { return damagedFrames_; }

    // The key frame at or before `t` by the container's index (complete in
    // MP4); nothing when the index does not say.
    std::optional<SourceTime> keyFrameAtOrBefore(SourceTime t) const;
    // For video: the time just after the last picture ends, the length of
    // one repetition of a looping track. Reads all packets without decoding
    // and leaves the stream at the start, in a new generation.
    SourceTime scanEnd();

  private:
    bool readPacket();
    // Whether the picture of packet `p` may be left undecoded, if nothing
    // refers to it.
    bool skippable(const AVPacket* p) const;
    DecodedFrame stamp(av::FramePtr frame);

    std::optional<InputFile> owned_;
    InputFile* file_;
    MediaKind kind_;
    int streamIndex_ = -1;
    FrameTiming timing_;
    Decoder decoder_;
    av::PacketPtr packet_;
    bool packetHeld_ = false; // packet_ was read but not yet sent
    bool inputDone_ = false;
    uint64_t generation_ = 0;
    std::optional<SourceTime> skipBefore_;
    std::vector<SourceTime> shownAt_;
    bool skippedSinceSeek_ = false;
    std::optional<SourceTime> skippedBefore_;
    // Where the next frame starts when it has no timestamp of its own.
    SourceTime nextStart_;
    bool handedOut_ = false; // a frame came out since the last seek
    int damagedFrames_ = 0;
};

} // namespace kavlo
