#include "support/test_gif.h"

#include "support/test_media.h"

#include <memory>
#include <stdexcept>

#include <webp/demux.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace kavlo::test {

namespace {

class ByteReader {
  public:
    explicit ByteReader(const fs::path& path) : bytes_(readFile(path)) {}
    std::string text(std::size_t n) {
        if (pos_ + n > bytes_.size())
            throw std::runtime_error("GIF ends early");
        pos_ += n;
        return bytes_.substr(pos_ - n, n);
    }
    uint8_t byte() { return uint8_t(text(1)[0]); }
    int word() {
        const int low = byte();
        return low | byte() << 8;
    }
    // The data sub-blocks up to the terminating empty one, one string each.
    std::vector<std::string> subBlocks() {
        std::vector<std::string> blocks;
        while (const uint8_t size = byte())
            blocks.push_back(text(size));
        return blocks;
    }

  private:
    std::string bytes_;
    std::size_t pos_ = 0;
};

} // namespace

GifStructure readGifStructure(const fs::path& path) {
    ByteReader in(path);
    GifStructure gif;
    gif.version = in.text(6);
    gif.width = in.word();
    gif.height = in.word();
    const uint8_t screenFlags = in.byte();
    in.text(2);
    if (screenFlags & 0x80)
        in.text(3u << ((screenFlags & 7) + 1));

    GifImageBlock pending;
    for (;;) {
        const uint8_t introducer = in.byte();
        if (introducer == 0x3b) {
            gif.complete = true;
            return gif;
        }
        if (introducer == 0x21) {
            const uint8_t label = in.byte();
            const std::vector<std::string> blocks = in.subBlocks();
            if (label == 0xf9 && !blocks.empty() && blocks[0].size() == 4) {
                const auto* b = reinterpret_cast<const uint8_t*>(blocks[0].data());
                pending.delay = b[1] | b[2] << 8;
            } else if (label == 0xff && blocks.size() >= 2 && blocks[0] == "NETSCAPE2.0" &&
                       blocks[1].size() == 3 && blocks[1][0] == 1) {
                gif.loopCount = uint8_t(blocks[1][1]) | uint8_t(blocks[1][2]) << 8;
            }
        } else if (introducer == 0x2c) {
            GifImageBlock image = pending;
            pending = {};
            image.left = in.word();
            image.top = in.word();
            image.width = in.word();
            image.height = in.word();
            const uint8_t flags = in.byte();
            if (flags & 0x80) // a local palette
                in.text(3u << ((flags & 7) + 1));
            in.byte(); // LZW minimum code size
            in.subBlocks();
            gif.images.push_back(image);
        } else {
            throw std::runtime_error("unknown GIF block");
        }
    }
}

RgbPicture RgbPicture::fromBgra(const uint8_t* bgra, int width, int height) {
    RgbPicture picture{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (std::size_t i = 0, j = 0; j < picture.rgb.size(); i += 4, j += 3) {
        picture.rgb[j] = bgra[i + 2];
        picture.rgb[j + 1] = bgra[i + 1];
        picture.rgb[j + 2] = bgra[i];
    }
    return picture;
}

int RgbPicture::frameIndex() const {
    std::vector<uint8_t> luma(size_t(width) * height);
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i] = uint8_t((299 * rgb[3 * i] + 587 * rgb[3 * i + 1] + 114 * rgb[3 * i + 2]) / 1000);
    return readFrameIndex(luma.data(), width, width, height);
}

std::vector<int> frameIndices(const std::vector<RgbPicture>& pictures) {
    std::vector<int> indices;
    for (const auto& picture : pictures)
        indices.push_back(picture.frameIndex());
    return indices;
}

bool inCycleOrder(const std::vector<int>& shown, const std::vector<int>& cycle) {
    std::size_t position = 0;
    for (int index : shown) {
        while (position < cycle.size() && cycle[position] != index)
            ++position;
        if (position == cycle.size())
            return false;
    }
    return true;
}

std::vector<RgbPicture> decodeGif(const fs::path& path) {
    std::vector<RgbPicture> pictures;
    SwsContext* sws = nullptr;
    decodeTrack(path, false, [&](const AVStream&, const AVCodecContext&, const AVFrame& frame) {
        RgbPicture picture{frame.width, frame.height,
                           std::vector<uint8_t>(size_t(frame.width) * frame.height * 3)};
        sws = sws_getCachedContext(sws, frame.width, frame.height, AVPixelFormat(frame.format),
                                   frame.width, frame.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr,
                                   nullptr, nullptr);
        uint8_t* dst[4] = {picture.rgb.data()};
        int dstStride[4] = {frame.width * 3};
        sws_scale(sws, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
        pictures.push_back(std::move(picture));
    });
    sws_freeContext(sws);
    return pictures;
}

WebpAnimation decodeWebp(const fs::path& path) {
    const std::string bytes = readFile(path);
    WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        throw std::runtime_error("libwebp version mismatch");
    options.color_mode = MODE_RGBA;
    std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info))
        throw std::runtime_error("not an animated WebP: " + path.string());
    WebpAnimation animation;
    animation.width = int(info.canvas_width);
    animation.height = int(info.canvas_height);
    animation.loopCount = int(info.loop_count);
    int previousEnd = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        uint8_t* rgba = nullptr;
        int end = 0; // when the picture stops showing, in ms
        if (!WebPAnimDecoderGetNext(decoder.get(), &rgba, &end))
            throw std::runtime_error("damaged WebP frame in " + path.string());
        RgbPicture picture{animation.width, animation.height, {}};
        for (std::size_t i = 0; i < std::size_t(picture.width) * picture.height; ++i)
            picture.rgb.insert(picture.rgb.end(), rgba + 4 * i, rgba + 4 * i + 3);
        animation.pictures.push_back(std::move(picture));
        animation.durationsMs.push_back(end - previousEnd);
        previousEnd = end;
    }
    return animation;
}

} // namespace kavlo::test
