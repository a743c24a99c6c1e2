#include "media/segment_reader.h"

#include "media/colour.h"
#include "media/error.h"

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
      scaleFilter_(fitted ? SWS_AREA : SWS_BICUBIC), fullChroma_(fullChroma) {
    const double uw = track.uprightWidth(), uh = track.uprightHeight();
    const double scale = std::min(width / std::max(uw, 1.0), height / std::max(uh, 1.0));
    const int sw = fitted ? width : std::clamp(int(std::lround(uw * scale)), 1, width);
    const int sh = fitted ? height : std::clamp(int(std::lround(uh * scale)), 1, height);
    covers_ = sw == width && sh == height;
    scaledW_ = transform_.swapsAxes() ? sh : sw;
    scaledH_ = transform_.swapsAxes() ? sw : sh;
}

av::FramePtr PictureShaper::scaleToSize(const AVFrame* decoded, AVPixelFormat format) {
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
    if (!sws_ || decoded->width != swsSrcW_ || decoded->height != swsSrcH_ ||
        decoded->format != swsSrcFormat_ || format != swsDstFormat_) {
        sws_.reset(sws_getContext(decoded->width, decoded->height, AVPixelFormat(decoded->format),
                                  scaledW_, scaledH_, format, scaleFilter_, nullptr, nullptr,
                                  nullptr));
        if (!sws_)
            throwMediaError(AVERROR(EINVAL), "create scaler");
        // Same matrix on both sides: only the size, layout and range change.
        const int* coefficients = sws_getCoefficients(matrix);
        sws_setColorspaceDetails(sws_.get(), coefficients, isRgb(decoded) || isFullRange(decoded),
                                 coefficients, 0, 0, 1 << 16, 1 << 16);
        swsSrcW_ = decoded->width;
        swsSrcH_ = decoded->height;
        swsSrcFormat_ = decoded->format;
        swsDstFormat_ = format;
    }
    av::FramePtr scaled = allocPicture(scaledW_, scaledH_, format);
    sws_scale(sws_.get(), decoded->data, decoded->linesize, 0, decoded->height, scaled->data,
              scaled->linesize);
    copyColourTags(scaled.get(), decoded);
    scaled->colorspace = matrix;
    scaled->color_range = AVCOL_RANGE_MPEG;
    return scaled;
}

Picture PictureShaper::shape(const AVFrame* decoded) {
    const AVPixelFormat format = fullChroma_ && hasFullChroma(AVPixelFormat(decoded->format))
                                     ? AV_PIX_FMT_YUV444P
                                     : AV_PIX_FMT_YUV420P;
    av::FramePtr scaled = isHdr(decoded) ? toneMapper_.toSdr(decoded, scaledW_, scaledH_, format)
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
    : file_(file), track_(file.info().video.value()), timing_(file), sampling_(sampling),
      decoder_(file.stream(track_.streamIndex), sampling.decoderThreads),
      shaper_(track_, sampling.width, sampling.height, sampling.fitted, sampling.fullChroma),
      packet_(av::allocPacket()) {
    AVFormatContext* ctx = file_.context();
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == track_.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    // Whoever read the file before may have left it anywhere.
    seekTo(std::max(sampling_.trimStart, 0.0));
    seekedToStart_ = sampling_.trimStart <= 0;
}

void VideoSegmentReader::seekTo(double seconds) {
    file_.seek(track_.streamIndex, seconds);
    decoder_.flush();
    eof_ = inputDone_ = false;
    current_.reset();
    upcoming_.reset();
}

int64_t VideoSegmentReader::startUs(const AVFrame* f) const {
    const int64_t ts = frameTimestamp(f);
    return timing_.toUs(ts == AV_NOPTS_VALUE ? 0 : ts);
}

int64_t VideoSegmentReader::endUs(const AVFrame* f) const {
    const int64_t length = timing_.lengthUs(f->pkt_duration);
    return startUs(f) + (length > 0 ? length : timing_.nominalFrameUs());
}

bool VideoSegmentReader::decodeNext(av::FramePtr& out) {
    out = av::allocFrame();
    // A missing reference alone is what an open GOP gives after a seek; the
    // pictures the segment uses come after it recovers.
    constexpr int kDamage = FF_DECODE_ERROR_INVALID_BITSTREAM | FF_DECODE_ERROR_CONCEALMENT_ACTIVE |
                            FF_DECODE_ERROR_DECODE_SLICES;
    for (;;) {
        if (decoder_.receive(out.get())) {
            if (out->decode_error_flags & kDamage)
                ++damagedFrames_;
            return true;
        }
        if (decoder_.drained())
            return false;
        if (inputDone_)
            continue;
        if (file_.readPacket(packet_.get(), track_.streamIndex)) {
            // A seek lands up to a GOP before the segment; of the pictures
            // on the way only those that others refer to need decoding.
            decoder_.skipUnreferenced(
                timing_.surelyOverBy(packet_.get(), secondsToUs(sampling_.trimStart)));
            // receive() just asked for input, so the decoder takes it.
            if (!decoder_.send(packet_.get()))
                throwMediaError(AVERROR(EAGAIN), "decode");
        } else {
            decoder_.send(nullptr);
            inputDone_ = true;
        }
    }
}

void VideoSegmentReader::advanceTo(int64_t tUs) {
    for (;;) {
        if (!upcoming_ && !eof_ && !decodeNext(upcoming_)) {
            eof_ = true;
            upcoming_.reset();
        }
        if (!upcoming_ || !timing_.startedBy(startUs(upcoming_.get()), tUs))
            return;
        current_ = std::move(upcoming_);
    }
}

std::optional<Picture> VideoSegmentReader::next() {
    const double t = sampling_.trimStart + step_ / sampling_.frameRate;
    if (t >= sampling_.trimStart + sampling_.rangeSeconds)
        return std::nullopt;
    const int64_t tUs = secondsToUs(t);

    // Seeking lands on a key frame at or before the start. Should an inexact
    // index put it after the start, or after the last key frame (nothing
    // decodes from there), go back further until it does not.
    double backoff = 1.0;
    for (;;) {
        advanceTo(tUs);
        const bool landedLate = step_ == 0 && !current_ &&
                                (!upcoming_ || !timing_.startedBy(startUs(upcoming_.get()), tUs));
        if (!landedLate || seekedToStart_)
            break;
        const double target = sampling_.trimStart - backoff;
        seekedToStart_ = target <= 0;
        seekTo(std::max(target, 0.0));
        backoff *= 2;
    }
    const AVFrame* chosen = current_ ? current_.get() : upcoming_.get();
    if (!chosen)
        return std::nullopt;
    if (eof_ && current_ && timing_.startedBy(endUs(current_.get()), tUs))
        return std::nullopt;

    ++step_;
    const int64_t pts = chosen->best_effort_timestamp;
    if (!currentPicture_ || pts != currentPicturePts_) {
        currentPicture_ = shaper_.shape(chosen);
        currentPicturePts_ = pts;
    }
    return currentPicture_.share();
}

} // namespace kavlo
