// Reads a stretch of a video track at a fixed sampling rate: for each step
// k = 0, 1, ... the picture is the source frame on screen (by FrameTiming's
// rule) at trimStart + k / frameRate, turned upright, scaled by one factor to fit the
// render size and placed at the top-left corner (any uncovered margin is
// black). Each source frame is decoded and shaped once; a frame that covers
// several steps is shared, not copied.
#pragma once

#include "media/decoded_stream.h"
#include "media/frame_locator.h"
#include "media/picture.h"

#include <functional>
#include <memory>
#include <optional>

namespace kavlo {

class Scaler;
class ToneMapper;

struct SegmentSampling {
    double trimStart = 0;    // source seconds
    double rangeSeconds = 0; // steps at or beyond trimStart + rangeSeconds are not read
    double frameRate = 30;   // sampling steps per second
    int width = 0;           // render size
    int height = 0;
    // The render size was fitted to an area on screen, smaller than the
    // picture. Each axis is then scaled on its own to cover it exactly (one
    // uniform factor would leave a pixel of black at an edge; the shape
    // changes by less than a pixel), with an area filter: as sharp as
    // bicubic at such reductions, and faster. Where this shrinks the picture
    // to half its size or less on both axes, it is decoded without its loop
    // filter (Decoder::skipLoopFilter): the area filter averages away what
    // the filter smooths, and every render of the segment at that size,
    // preview or export, decodes it the same way.
    bool fitted = false;
    // Decoding threads; 0 lets libavcodec choose.
    int decoderThreads = 0;
    // Keep a 4:4:4 or RGB source's full colour resolution (pictures in
    // 4:4:4) instead of making every picture 4:2:0.
    bool fullChroma = false;
    // Steps whose pictures are not wanted: they come out empty, nothing is
    // scaled for them, and source pictures on screen at no wanted step that
    // nothing refers to are not decoded. Unset: every step is wanted.
    std::function<bool(int step)> leftOut = {};
};

// Turns decoded frames of one track upright and to the render size, in
// SDR: HDR frames are tone-mapped to BT.709 (media/tone_map.h), every other
// frame keeps its colours.
class PictureShaper {
  public:
    PictureShaper(const VideoTrackInfo& track, int width, int height, bool fitted = false,
                  bool fullChroma = false);
    ~PictureShaper();
    PictureShaper(PictureShaper&&) noexcept;
    PictureShaper& operator=(PictureShaper&&) noexcept;

    Picture shape(const AVFrame* decoded);
    Picture shape(const Frame& decoded) { return shape(decoded.get()); }

  private:
    // `format`: an AVPixelFormat.
    av::FramePtr scaleToSize(const AVFrame* decoded, int format);

    DisplayTransform transform_;
    int width_, height_;
    int scaledW_, scaledH_; // picture size before turning upright
    bool covers_;           // the picture fills the whole render size
    int scaleFilter_;
    bool fullChroma_;
    std::unique_ptr<Scaler> scaler_;
    std::unique_ptr<ToneMapper> toneMapper_;
};

class VideoSegmentReader {
  public:
    // `file` must outlive the reader, which reads its video track; the
    // reader seeks it first, wherever it was left.
    VideoSegmentReader(InputFile& file, SegmentSampling sampling);

    // The picture for the next step (empty for a step left out), or nothing
    // once the range or the track has ended. Throws Error when decoding fails.
    std::optional<Picture> next();
    // True when the decoder met damaged data since reading began: packets
    // it rejected, or pictures it had to patch up (concealment). Pictures
    // decoded after a patched one may be wrong without saying so.
    bool sawCorruptData() const {
        return stream_.corruptPackets() > 0 || stream_.damagedFrames() > 0;
    }

  private:
    double stepSeconds(int step) const { return sampling_.trimStart + step / sampling_.frameRate; }
    SourceTime stepTime(int step) const;

    DecodedStream stream_;
    FrameLocator locator_{stream_};
    SegmentSampling sampling_;
    PictureShaper shaper_;
    int step_ = 0;
    std::optional<DecodedFrame> current_; // the frame on screen at the step time
    Picture currentPicture_;
    SourceTime currentPictureStart_;
};

} // namespace kavlo
