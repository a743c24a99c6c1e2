// Small file-system helpers shared by the writers.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavlo {

// Removes the file at `path` if there is one; throws Error when it exists
// and cannot be removed.
void removeFileIfExists(const std::filesystem::path& path);

// Makes way for an output: throws Error when `output` is the same file as
// `source` (it would be deleted before it is read), otherwise removes
// whatever file is at `output`.
void replaceOutputOf(const std::filesystem::path& source, const std::filesystem::path& output);

// Removes the file at `path`, ignoring every failure (temporary files).
void removeFileQuietly(const std::filesystem::path& path) noexcept;

// A fresh random (version 4) UUID in its 36-character text form.
std::string newUuid();

// A path in the user's temporary directory named "kavlo-" + role + "-" +
// a new UUID + extension ("kavlo-audio-<UUID>.m4a"). Nothing is created.
std::filesystem::path newTemporaryPath(std::string_view role, std::string_view extension);

// Owns a temporary file's name: whatever is at the path when the guard goes
// out of scope is removed, however the scope is left (return, error or
// cancellation). The file itself is created by whoever writes it.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryFile() { removeFileQuietly(path_); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace kavlo
