// Small file-system helpers shared by the writers.
#pragma once

#include <filesystem>

namespace kavlo {

// Removes the file at `path` if there is one; throws Error when it exists
// and cannot be removed.
void removeFileIfExists(const std::filesystem::path& path);

// Removes the file at `path`, ignoring every failure (temporary files).
void removeFileQuietly(const std::filesystem::path& path) noexcept;

} // namespace kavlo
