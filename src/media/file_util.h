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

} // namespace kavlo
