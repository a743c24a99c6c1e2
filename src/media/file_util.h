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
