#include "support/test_webp.h"

#include "support/test_media.h"

#include <webp/demux.h>

#include <memory>
#include <stdexcept>

namespace kavlo::test {

WebpAnimation decodeWebp(const std::filesystem::path& path) {
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
        RgbPicture picture;
        picture.width = animation.width;
        picture.height = animation.height;
        picture.rgb.reserve(std::size_t(picture.width) * picture.height * 3);
        for (std::size_t i = 0; i < std::size_t(picture.width) * picture.height; ++i)
            picture.rgb.insert(picture.rgb.end(), rgba + 4 * i, rgba + 4 * i + 3);
        animation.pictures.push_back(std::move(picture));
        animation.durationsMs.push_back(end - previousEnd);
        previousEnd = end;
    }
    return animation;
}

} // namespace kavlo::test
