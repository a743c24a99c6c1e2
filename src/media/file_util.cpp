#include "media/file_util.h"

#include "media/error.h"
#include "media/ffmpeg.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <random>

#include <fcntl.h>
#include <unistd.h>

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

void checkOutputIsNotSource(const std::filesystem::path& source,
                            const std::filesystem::path& output) {
    std::error_code ec;
    if (std::filesystem::equivalent(source, output, ec))
        throw kavloError(kOutputIsSource,
                         "The video cannot be saved over its own source. Choose another name.");
}

bool isOutOfSpace(int errorNumber) {
    return errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG;
}

void throwOutOfSpace() {
    throw kavloError(kDiskFull, "There is not enough free disk space to write the file.");
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

namespace {

std::filesystem::path folderOf(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

[[noreturn]] void throwNotWritable(const std::filesystem::path& destination, int errorNumber) {
    if (isOutOfSpace(errorNumber))
        throwOutOfSpace();
    const std::filesystem::path folder = folderOf(destination);
    std::string name = std::filesystem::absolute(folder).lexically_normal().filename().string();
    if (name.empty())
        name = folder.string();
    throw kavloError(kDestinationNotWritable,
                     "Could not save in \u201c" + name +
                         "\u201d: " + std::generic_category().message(errorNumber) + ".");
}

// Makes the file's bytes (or a folder's entries) durable before anything
// relies on them; a power cut after the rename then finds the whole file.
int syncPath(const std::filesystem::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

} // namespace

PartialOutput::PartialOutput(std::filesystem::path destination)
    : destination_(std::move(destination)),
      partial_(folderOf(destination_) / ("kavlo-partial-" + newUuid() + ".part")) {
    const int fd = ::open(partial_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throwNotWritable(destination_, errno);
    ::close(fd);
}

PartialOutput::~PartialOutput() {
    if (!committed_)
        removeFileQuietly(partial_);
}

void PartialOutput::commit() {
    if (const int error = syncPath(partial_, O_RDONLY); error != 0 && error != EINVAL)
        throwNotWritable(destination_, error);
    if (::rename(partial_.c_str(), destination_.c_str()) != 0)
        throwNotWritable(destination_, errno);
    committed_ = true;
    // The rename itself is durable once the folder is; a folder that cannot
    // be synced (some network file systems) still holds the complete file.
    syncPath(folderOf(destination_), O_RDONLY | O_DIRECTORY);
}

} // namespace kavlo
