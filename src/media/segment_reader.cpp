#include "media/segment_reader.h"

#include "media/colour.h"
#include "media/converters.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/tone_map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kavlo {

namespace {

av::FramePtr allocPicture(int width, int height, AVPixelFormat format) {
    av::FramePtr frame = av::allocFrame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    checkAv(av_frame_get_buffer(frame.get(), 0), "allocate picture");
    return frame;
}

// Width and height of a picture's chroma planes.
int chromaWidth(const AVFrame* f) {
    return -((-f->width) >> av_pix_fmt_desc_get(AVPixelFormat(f->format))->log2_chroma_w);
}
int chromaHeight(const AVFrame* f) {
    return -((-f->height) >> av_pix_fmt_desc_get(AVPixelFormat(f->format))->log2_chroma_h);
}

void fillBlack(AVFrame* f) {
    for (int y = 0; y < f->height; ++y)
        std::memset(f->data[0] + y * f->linesize[0], 16, f->width);
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < chromaHeight(f); ++y)
            std::memset(f->data[p] + y * f->linesize[p], 128, chromaWidth(f));
}

void copyColourTags(AVFrame* dst, const AVFrame* src) {
    dst->color_primaries = src->color_primaries;
    dst->color_trc = src->color_trc;
    dst->colorspace = src->colorspace;
    dst->color_range = src->color_range;
    dst->pts = src->pts;
    dst->best_effort_timestamp = src->best_effort_timestamp;
}

bool isRgb(const AVFrame* f) {
    return av_pix_fmt_desc_get(AVPixelFormat(f->format))->flags & AV_PIX_FMT_FLAG_RGB;
}

} // namespace

PictureShaper::PictureShaper(const VideoTrackInfo& track, int width, int height, bool fitted,
                             bool fullChroma)
    : transform_(track.transform), width_(width), height_(height),
      scaleFilter_(fitted ? SWS_AREA : SWS_BICUBIC), fullChroma_(fullChroma),
      scaler_(std::make_unique<Scaler>()), toneMapper_(std::make_unique<ToneMapper>()) {
    const double uw = track.uprightWidth(), uh = track.uprightHeight();
    const double scale = std::min(width / std::max(uw, 1.0), height / std::max(uh, 1.0));
    const int sw = fitted ? width : std::clamp(int(std::lround(uw * scale)), 1, width);
    const int sh = fitted ? height : std::clamp(int(std::lround(uh * scale)), 1, height);
    covers_ = sw == width && sh == height;
    scaledW_ = transform_.swapsAxes() ? sh : sw;
    scaledH_ = transform_.swapsAxes() ? sw : sh;
}

PictureShaper::~PictureShaper() = default;
PictureShaper::PictureShaper(PictureShaper&&) noexcept = default;
PictureShaper& PictureShaper::operator=(PictureShaper&&) noexcept = default;

av::FramePtr PictureShaper::scaleToSize(const AVFrame* decoded, int formatValue) {
    const auto format = AVPixelFormat(formatValue);
    // RGB becomes BT.709 YUV; YUV keeps its matrix, settled here at the
    // source's own size, since the picture may come out on the other side
    // of the line that decides an untagged one.
    const AVColorSpace matrix = isRgb(decoded) ? AVCOL_SPC_BT709 : yuvMatrixOf(decoded);
    const bool same = decoded->format == format ||
                      (format == AV_PIX_FMT_YUV420P && decoded->format == AV_PIX_FMT_YUVJ420P) ||
                      (format == AV_PIX_FMT_YUV444P && decoded->format == AV_PIX_FMT_YUVJ444P);
    if (same && decoded->width == scaledW_ && decoded->height == scaledH_) {
        av::FramePtr scaled = av::refFrame(decoded);
        scaled->colorspace = matrix;
        return scaled;
    }
    // Same matrix on both sides: only the size, layout and range change.
    ScalerKey key = scalerKeyFor(decoded, scaledW_, scaledH_, format, scaleFilter_);
    key.matrix = matrix;
    key.srcFullRange = isRgb(decoded) || isFullRange(decoded);
    av::FramePtr scaled = allocPicture(scaledW_, scaledH_, format);
    scaler_->scale(key, decoded, scaled.get());
    copyColourTags(scaled.get(), decoded);
    scaled->colorspace = matrix;
    scaled->color_range = AVCOL_RANGE_MPEG;
    return scaled;
}

Picture PictureShaper::shape(const AVFrame* decoded) {
    const AVPixelFormat format = fullChroma_ && hasFullChroma(AVPixelFormat(decoded->format))
                                     ? AV_PIX_FMT_YUV444P
                                     : AV_PIX_FMT_YUV420P;
    av::FramePtr scaled = isHdr(decoded) ? toneMapper_->toSdr(decoded, scaledW_, scaledH_, format)
                                         : scaleToSize(decoded, format);
    if (transform_.isIdentity() && covers_)
        return Picture(std::move(scaled));

    av::FramePtr canvas = allocPicture(width_, height_, AVPixelFormat(scaled->format));
    copyColourTags(canvas.get(), scaled.get());
    if (!covers_)
        fillBlack(canvas.get());
    transformPlane(transform_, scaled->data[0], scaled->linesize[0], scaledW_, scaledH_,
                   canvas->data[0], canvas->linesize[0]);
    for (int p = 1; p < 3; ++p)
        transformPlane(transform_, scaled->data[p], scaled->linesize[p], chromaWidth(scaled.get()),
                       chromaHeight(scaled.get()), canvas->data[p], canvas->linesize[p]);
    return Picture(std::move(canvas));
}

VideoSegmentReader::VideoSegmentReader(InputFile& file, SegmentSampling sampling)
    : stream_(file, MediaKind::video, sampling.decoderThreads), sampling_(sampling),
      shaper_(stream_.videoTrack(), sampling.width, sampling.height, sampling.fitted,
              sampling.fullChroma) {
    const VideoTrackInfo& track = stream_.videoTrack();
    stream_.skipLoopFilter(sampling.fitted && 2.0 * sampling.width <= track.uprightWidth() &&
                           2.0 * sampling.height <= track.uprightHeight());
    if (sampling_.leftOut) {
        // The first step's picture is always made: it tells whether the
        // seek landed late.
        std::vector<SourceTime> shown;
        for (int step = 0; stepSeconds(step) < sampling_.trimStart + sampling_.rangeSeconds; ++step)
            if (step == 0 || !sampling_.leftOut(step))
                shown.push_back(stepTime(step));
        stream_.skipUnreferencedOffScreen(std::move(shown));
    }
}

SourceTime VideoSegmentReader::stepTime(int step) const {
    return SourceTime::fromUs(secondsToUs(stepSeconds(step)));
}

std::optional<Picture> VideoSegmentReader::next() {
    if (stepSeconds(step_) >= sampling_.trimStart + sampling_.rangeSeconds)
        return std::nullopt;
    const SourceTime t = stepTime(step_);
    // The first step seeks: whoever read the file before may have left it
    // anywhere.
    if (step_ == 0)
        current_ = locator_.locate(t);
    else
        locator_.walkTo(t, current_);
    if (!current_)
        return std::nullopt;
    const FrameTiming& timing = stream_.timing();
    const Microseconds length =
        current_->length.count() > 0 ? current_->length : Microseconds(timing.nominalFrameUs());
    if (locator_.atEnd() && timing.startedBy((current_->start + length).us(), t.us()))
        return std::nullopt;

    if (step_ > 0 && sampling_.leftOut && sampling_.leftOut(step_)) {
        ++step_;
        return Picture();
    }
    ++step_;
    if (!currentPicture_ || current_->start != currentPictureStart_) {
        currentPicture_ = shaper_.shape(current_->frame.get());
        currentPictureStart_ = current_->start;
    }
    return currentPicture_.share();
}

} // namespace kavlo
