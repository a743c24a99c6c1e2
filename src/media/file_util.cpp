#include "media/file_util.h"

#include "media/error.h"

#include <array>
#include <cstdint>
#include <random>

extern "C" {
#include <libavutil/error.h>
}

namespace kavlo {

void removeFileIfExists(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::remove(path, ec) && ec && ec != std::errc::no_such_file_or_directory)
        throw Error(kMediaDomain, AVERROR(ec.value()),
                    "Could not replace " + path.filename().string() + ": " + ec.message());
}

void replaceOutputOf(const std::filesystem::path& source, const std::filesystem::path& output) {
    std::error_code ec;
    if (std::filesystem::equivalent(source, output, ec))
        throw kavloError(kOutputIsSource,
                         "The video cannot be saved over its own source. Choose another name.");
    removeFileIfExists(output);
}

void removeFileQuietly(const std::filesystem::path& path) noexcept {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

std::string newUuid() {
    std::random_device random;
    std::array<uint8_t, 16> bytes;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t word = random();
        for (std::size_t j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x40; // version 4: random
    bytes[8] = (bytes[8] & 0x3f) | 0x80; // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace kavlo
