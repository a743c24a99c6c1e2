// The kinds of file an export writes, and how they are named on the
// command line, in file names and in what the user reads.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kavlo {

enum class OutputFormat { mp4, gif, webp, webm };

// "mp4", "gif", "webp", "webm": the name on the command line and in
// analytics.
std::string_view formatName(OutputFormat format);
std::optional<OutputFormat> formatFromName(std::string_view name);
// From the file name's extension, in any case; none for another one.
std::optional<OutputFormat> formatFromExtension(const std::filesystem::path& path);
// "an MP4", "a GIF", "a WebP", "a WebM": for sentences ("... as a GIF").
std::string_view formatWithArticle(OutputFormat format);
// "MP4", "GIF", "WebP", "WebM".
std::string_view formatTitle(OutputFormat format);

// A size in bytes as people read it, in decimal units with three
// significant digits at most: "820 bytes", "480 kB", "9.6 MB", "14.2 MB".
std::string formatFileSize(double bytes);

} // namespace kavlo
