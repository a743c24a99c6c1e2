// An opened media file: its container, the first video and audio tracks and
// what the renderer and the players need to know about them.
#pragma once

#include "media/av_ptr.h"
#include "media/orientation.h"
#include "media/rational.h"

#include <optional>
#include <string>

struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace kavlo {

struct VideoTrackInfo {
    int streamIndex = -1;
    int codedWidth = 0;
    int codedHeight = 0;
    Rational sampleAspect{1, 1};
    // The stream's average frame rate; {0, 1} when the container does not say.
    Rational frameRate{0, 1};
    // Display size before orientation: the coded size with the sample aspect
    // ratio applied to the width.
    double naturalWidth = 0;
    double naturalHeight = 0;
    DisplayTransform transform;
    // The decoded pictures have a colour sample at every pixel (4:4:4 or
    // RGB; see hasFullChroma in media/colour.h).
    bool fullChroma = false;

    // Frames per second; 0 when unknown.
    double nominalFrameRate() const;
    // Display size after orientation, in pixels (not rounded).
    double uprightWidth() const { return transform.swapsAxes() ? naturalHeight : naturalWidth; }
    double uprightHeight() const { return transform.swapsAxes() ? naturalWidth : naturalHeight; }
};

struct AudioTrackInfo {
    int streamIndex = -1;
    int sampleRate = 0;
    int channelCount = 0;
};

struct MediaInfo {
    // Length of the file in seconds, measured from startSeconds.
    double durationSeconds = 0;
    // Presentation time of the file's first sample; source times count from here.
    double startSeconds = 0;
    std::optional<VideoTrackInfo> video;
    std::optional<AudioTrackInfo> audio;
};

// The largest picture Kavlo opens, before or after orientation and the
// sample aspect ratio: 8K (8192 x 4320), no side longer than 16384. A render
// holds every picture of its segment, so anything bigger could not be
// rendered anyway; refusing it at the door keeps a header that claims
// 65535 x 65535 from reaching an allocation.
inline constexpr int64_t kMaxPicturePixels = int64_t(8192) * 4320;
inline constexpr int kMaxPictureSide = 16384;

class InputFile {
  public:
    // Opens and probes a local file. Only plain files are read: a playlist
    // or a reference file that names other files or network addresses is
    // refused, as is a video track larger than kMaxPicturePixels (Error
    // code kPictureTooLarge). Throws Error (media domain) when the file
    // cannot be opened or is not a media file.
    explicit InputFile(const std::string& path);

    const MediaInfo& info() const { return info_; }
    AVFormatContext* context() const { return ctx_.get(); }
    AVStream* stream(int index) const;

    // Reads packets of `streamIndex` only; false at end of file.
    bool readPacket(AVPacket* packet, int streamIndex);
    // Seeks to the last key frame at or before `seconds` (source time) of
    // the given stream, as the container's index or search finds it: files
    // without an index (MPEG-TS, MPEG-PS) land on any packet near the time,
    // often inside a GOP. A time at or before the start goes to the file's
    // first packet in every container.
    void seek(int streamIndex, double seconds);

    // The length of a track as the container states it, in seconds; 0 when
    // it does not.
    double trackSeconds(int streamIndex) const;

    // Converts between a stream's timestamps and source seconds.
    double toSeconds(int streamIndex, int64_t ts) const;
    int64_t toStreamTime(int streamIndex, double seconds) const;

  private:
    av::InputContextPtr ctx_;
    MediaInfo info_;
};

// Probes a file without keeping it open.
MediaInfo probeMedia(const std::string& path);

} // namespace kavlo
