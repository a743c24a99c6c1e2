// Damaged copies of a generated clip, for the tests that check every reader
// ends in a message (or reads what is intact) and never crashes or hangs.
#pragma once

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace kavlo::test {

struct BrokenFile {
    std::string name; // "cut-50-index-front", "zero-bytes", ...
    std::filesystem::path path;
    // Seconds from the start whose pictures are certainly intact (0: none),
    // so a selection inside them must render exactly.
    double intactSeconds = 0;
};

// From an index-coded MP4 with sound (see makeIndexedVideo) of
// `durationSeconds`, writes into `dir`:
//  - copies cut at 10, 50 and 90 percent, with the index ('moov') at the end
//    (as written) and at the front;
//  - an empty file and a text file, each named .mp4;
//  - the file's index followed by random bytes instead of its media data;
//  - the file with a bit flipped every 1500 bytes of its media data.
// The files above in the order they are written, as test names.
inline constexpr const char* kBrokenFileNames[] = {
    "Cut10IndexEnd",   "Cut10IndexFront", "Cut50IndexEnd", "Cut50IndexFront",   "Cut90IndexEnd",
    "Cut90IndexFront", "ZeroBytes",       "Text",          "RandomAfterHeader", "BitFlips"};
inline constexpr int kBrokenFileCount = int(std::size(kBrokenFileNames));

std::vector<BrokenFile> makeBrokenFiles(const std::filesystem::path& dir,
                                        const std::filesystem::path& clip, double durationSeconds);

// A Motion JPEG clip in a QuickTime file, `size` as ffmpeg reads it
// ("64x48"). Its container and every picture state the picture size in
// plain 16-bit fields, which claimPictureSize rewrites.
std::filesystem::path makeMotionJpeg(const std::filesystem::path& path, const std::string& size,
                                     int frames = 10);
// Rewrites such a file in place so that its sample description (the
// container) and/or each picture's frame header claim width x height.
void claimPictureSize(const std::filesystem::path& file, int width, int height, bool inContainer,
                      bool inPictures);

} // namespace kavlo::test
