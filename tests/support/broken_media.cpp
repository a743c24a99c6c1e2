#include "support/broken_media.h"

#include "support/test_media.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <stdexcept>

namespace kavlo::test {

namespace {

fs::path writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Offset and size of the top-level MP4 box of `type`.
std::pair<std::size_t, std::size_t> findBox(const std::string& bytes, const char* type) {
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        uint64_t size = 0;
        for (int i = 0; i < 4; ++i)
            size = size << 8 | uint8_t(bytes[at + i]);
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | uint8_t(bytes[at + i]);
        }
        if (bytes.compare(at + 4, 4, type) == 0)
            return {at, std::size_t(size)};
        if (size < 8)
            break;
        at += size;
    }
    throw std::runtime_error(std::string("no box ") + type);
}

void putBigEndian16(std::string& bytes, std::size_t at, int value) {
    bytes[at] = char(value >> 8);
    bytes[at + 1] = char(value & 0xff);
}

} // namespace

fs::path makeMotionJpeg(const fs::path& path, const std::string& size, int frames) {
    generateMedia({"-f", "lavfi", "-i", "testsrc2=r=10:s=" + size, "-frames:v",
                   std::to_string(frames), "-c:v", "mjpeg", path.string()});
    return path;
}

void claimPictureSize(const fs::path& file, int width, int height, bool inContainer,
                      bool inPictures) {
    std::string bytes = readFile(file);
    if (inContainer) {
        // In the 'jpeg' sample entry, width and height follow 24 bytes of
        // reserved fields, versions and qualities.
        const std::size_t entry = bytes.find("jpeg");
        if (entry == std::string::npos)
            throw std::runtime_error("not a Motion JPEG QuickTime file");
        putBigEndian16(bytes, entry + 28, width);
        putBigEndian16(bytes, entry + 30, height);
    }
    // Start of frame: marker, length, precision, height, width.
    for (std::size_t at = 0; inPictures && (at = bytes.find("\xff\xc0", at)) != bytes.npos;
         at += 2) {
        putBigEndian16(bytes, at + 5, height);
        putBigEndian16(bytes, at + 7, width);
    }
    writeAll(file, bytes);
}

std::vector<BrokenFile> makeBrokenFiles(const fs::path& dir, const fs::path& clip,
                                        double durationSeconds) {
    const fs::path front = dir / "index-front.mp4";
    runFfmpeg({"-i", clip.string(), "-c", "copy", "-movflags", "+faststart", front.string()});
    const std::string atEnd = readFile(clip), atFront = readFile(front);

    const auto [mdat, mdatSize] = findBox(atFront, "mdat");
    std::vector<BrokenFile> files;
    for (int percent : {10, 50, 90}) {
        const std::string cut = "cut-" + std::to_string(percent);
        files.push_back(
            {cut + "-index-end", writeAll(dir / (cut + "-index-end.mp4"),
                                          atEnd.substr(0, atEnd.size() * percent / 100))});
        // Sound and picture are interleaved in small chunks, so the picture
        // up to a little before the cut is there.
        const double intact = (double(atFront.size() * percent / 100) - double(mdat)) /
                              double(mdatSize) * durationSeconds;
        files.push_back({cut + "-index-front",
                         writeAll(dir / (cut + "-index-front.mp4"),
                                  atFront.substr(0, atFront.size() * percent / 100)),
                         std::max(intact - 0.25, 0.0)});
    }
    files.push_back({"zero-bytes", writeAll(dir / "zero-bytes.mp4", "")});
    files.push_back(
        {"text", writeAll(dir / "text.mp4", "This is not a video.\nIt only says so.\n")});

    std::mt19937 random(16);
    std::string noise = atFront;
    for (std::size_t i = mdat + 8; i < mdat + mdatSize; ++i)
        noise[i] = char(random());
    files.push_back({"random-after-header", writeAll(dir / "random-after-header.mp4", noise)});
    std::string flipped = atFront;
    for (std::size_t i = mdat + 64; i < mdat + mdatSize; i += 1500)
        flipped[i] = char(flipped[i] ^ (1 << (random() % 8)));
    files.push_back({"bit-flips", writeAll(dir / "bit-flips.mp4", flipped)});
    return files;
}

} // namespace kavlo::test
