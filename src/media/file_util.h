// Small file-system helpers shared by the writers.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavlo {

// Removes the file at `path` if there is one; throws Error when it exists
// and cannot be removed.
void removeFileIfExists(const std::filesystem::path& path);

// Throws Error code kOutputIsSource when `output` is the same file as
// `source`: the render would replace the file it reads.
void checkOutputIsNotSource(const std::filesystem::path& source,
                            const std::filesystem::path& output);

// True for the errno values of a write that found no room: a full disk, an
// exhausted quota, a file-size limit.
bool isOutOfSpace(int errorNumber);
// Error code kDiskFull.
[[noreturn]] void throwOutOfSpace();

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

// A file written under a temporary name in its destination's folder,
// "kavlo-partial-<UUID>.part", and moved over the destination in one step
// once it is complete. Until then the destination keeps whatever it held; a
// failure, a cancellation, a crash or a kill leaves the old file (or none),
// never a half-written one under the destination's name.
class PartialOutput {
  public:
    // Creates the empty partial file, so a folder that cannot be written
    // fails here, before any work (Error code kDestinationNotWritable).
    explicit PartialOutput(std::filesystem::path destination);
    // Removes the partial file unless it was committed.
    ~PartialOutput();
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    // Where the writer writes.
    const std::filesystem::path& path() const { return partial_; }
    // Flushes the closed, complete file to the disk and renames it over the
    // destination. Throws kDiskFull or kDestinationNotWritable.
    void commit();

  private:
    std::filesystem::path destination_;
    std::filesystem::path partial_;
    bool committed_ = false;
};

} // namespace kavlo
