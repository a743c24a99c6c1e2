#include "render/webp_writer.h"

#include "media/error.h"
#include "media/file_util.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

namespace kavlo {

namespace {

[[noreturn]] void throwFrameFailed(const char* detail) {
    throw kavloError(kWebpFrameFailed, std::string("Could not encode WebP frame") +
                                           (detail ? ": " : "") + (detail ? detail : ""));
}
[[noreturn]] void throwFinishFailed(int errorNumber = 0) {
    if (isOutOfSpace(errorNumber))
        throwOutOfSpace();
    throw kavloError(kWebpFinishFailed, "Could not finish WebP file");
}

// A picture that frees its pixels however the call ends.
struct PictureGuard {
    WebPPicture picture;
    PictureGuard() { WebPPictureInit(&picture); }
    ~PictureGuard() { WebPPictureFree(&picture); }
};

struct DataGuard {
    WebPData data;
    DataGuard() { WebPDataInit(&data); }
    ~DataGuard() { WebPDataClear(&data); }
};

} // namespace

void WebpWriter::EncoderDeleter::operator()(WebPAnimEncoder* encoder) const noexcept {
    WebPAnimEncoderDelete(encoder);
}

WebpWriter::WebpWriter(int width, int height, const WebpSettings& settings, bool transparent)
    : width_(width), height_(height), settings_(settings), transparent_(transparent) {
    WebPAnimEncoderOptions options;
    if (width < 1 || height < 1 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION ||
        !WebPAnimEncoderOptionsInit(&options))
        throw kavloError(kWebpCreateFailed, "Could not create WebP file");
    options.anim_params.loop_count = 0; // forever
    options.anim_params.bgcolor = 0xff000000;
    encoder_.reset(WebPAnimEncoderNew(width, height, &options));
    if (!encoder_)
        throw kavloError(kWebpCreateFailed, "Could not create WebP file");
}

WebpWriter::~WebpWriter() = default;

void WebpWriter::add(const uint8_t* bgra, int stride, int durationMs) {
    WebPConfig config;
    if (!WebPConfigInit(&config))
        throwFrameFailed(nullptr);
    config.lossless = 0;
    config.quality = settings_.quality;
    config.method = settings_.method;
    config.thread_level = 1;
    if (!WebPValidateConfig(&config))
        throwFrameFailed(nullptr);

    PictureGuard frame;
    frame.picture.width = width_;
    frame.picture.height = height_;
    frame.picture.use_argb = 1;
    const int imported = transparent_ ? WebPPictureImportBGRA(&frame.picture, bgra, stride)
                                      : WebPPictureImportBGRX(&frame.picture, bgra, stride);
    if (!imported)
        throwFrameFailed(nullptr);
    if (!WebPAnimEncoderAdd(encoder_.get(), &frame.picture, timestampMs_, &config))
        throwFrameFailed(WebPAnimEncoderGetError(encoder_.get()));
    timestampMs_ += std::max(durationMs, 1);
    ++pictures_;
}

void WebpWriter::finish(const std::filesystem::path& path) {
    if (pictures_ == 0)
        throwFrameFailed(nullptr);
    // The last picture lasts until the end timestamp.
    DataGuard assembled;
    if (!WebPAnimEncoderAdd(encoder_.get(), nullptr, timestampMs_, nullptr) ||
        !WebPAnimEncoderAssemble(encoder_.get(), &assembled.data))
        throwFinishFailed();

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throwFinishFailed(errno);
    const bool written =
        std::fwrite(assembled.data.bytes, 1, assembled.data.size, file) == assembled.data.size &&
        std::fflush(file) == 0;
    const int writeError = written ? 0 : errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throwFinishFailed(writeError ? writeError : errno);
}

} // namespace kavlo
