// The fuzz targets: each takes arbitrary bytes and must return normally,
// whatever they hold. Any crash, sanitizer report, leak, hang or broken
// promise (a decoded queue that does not survive its own round trip) is a
// bug. libFuzzer drives them (fuzzer.cpp); the regression test replays the
// inputs that once failed (tests/fuzz/regressions/<target>/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavlo::fuzz {

using Target = void (*)(const uint8_t* data, std::size_t size);

// The bytes as a media file: opened and probed.
void probe(const uint8_t* data, std::size_t size);
// The bytes as a media file: the first half second of its video track read
// as the renderer reads a segment, each picture converted as a GIF frame is.
void segmentPictures(const uint8_t* data, std::size_t size);
// The bytes as a media file: the first half second of its sound read as the
// renderer's audio loop reads it.
void segmentSound(const uint8_t* data, std::size_t size);
// The bytes as the analytics queue file.
void queueFile(const uint8_t* data, std::size_t size);
// The bytes as the update endpoint's answer, taken as far as the alert and
// its "Download" button take it.
void updateInfo(const uint8_t* data, std::size_t size);

struct NamedTarget {
    std::string_view name;
    Target run;
};
inline constexpr NamedTarget kTargets[] = {
    {"probe", probe},
    {"segment_pictures", segmentPictures},
    {"segment_sound", segmentSound},
    {"queue_file", queueFile},
    {"update_info", updateInfo},
};

} // namespace kavlo::fuzz
