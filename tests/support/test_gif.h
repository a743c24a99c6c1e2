// Independent readers for the animations under test. For GIFs, one walks
// the file's blocks by hand, one decodes the pictures with libavformat and
// libavcodec; for WebPs, libwebp's own animation decoder, which shares no
// code with the encoder's frame packing. None shares code with the writers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kavlo::test {

namespace fs = std::filesystem;

struct GifImageBlock {
    int delay = -1; // hundredths, from its graphic control extension; -1 without one
    int left = 0, top = 0, width = 0, height = 0;
};

struct GifStructure {
    std::string version; // "GIF89a"
    int width = 0, height = 0;
    int loopCount = -1; // from the NETSCAPE2.0 extension; -1 without one
    std::vector<GifImageBlock> images;
    bool complete = false; // ends with the trailer
    // The delays of all pictures, in hundredths.
    int totalDelay() const {
        int sum = 0;
        for (const GifImageBlock& image : images)
            sum += image.delay;
        return sum;
    }
};

// Throws std::runtime_error when the file is not a well-formed GIF.
GifStructure readGifStructure(const fs::path& path);

// A picture as a viewer shows it, 8-bit RGB.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // width * height * 3
    const uint8_t* at(int x, int y) const { return rgb.data() + (size_t(y) * width + x) * 3; }
    // The index an upright index-coded picture carries; -1 when unreadable.
    int frameIndex() const;
    // The picture in `bgra` (width * height pixels, B, G, R, A; what
    // BgraConverter writes).
    static RgbPicture fromBgra(const uint8_t* bgra, int width, int height);
};

// Every composed picture of an animated GIF, in order.
std::vector<RgbPicture> decodeGif(const fs::path& path);

struct WebpAnimation {
    int width = 0, height = 0, loopCount = -1;
    std::vector<RgbPicture> pictures; // as composed, in order
    std::vector<int> durationsMs;     // of each picture
};

// Throws std::runtime_error when the file is not an animated WebP.
WebpAnimation decodeWebp(const fs::path& path);

// The index each picture carries, in order.
std::vector<int> frameIndices(const std::vector<RgbPicture>& pictures);
// Whether `shown` keeps the order of `cycle`, leaving positions out.
bool inCycleOrder(const std::vector<int>& shown, const std::vector<int>& cycle);

} // namespace kavlo::test
