#include "media/file_util.h"

#include "media/error.h"

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

void removeFileQuietly(const std::filesystem::path& path) noexcept {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

} // namespace kavlo
