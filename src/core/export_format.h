// The kinds of file an export writes, and their names as the command line,
// the file names and the usage events spell them.
#pragma once

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kavlo {

// New formats go at the end: analytics reports them by name, and the
// server's lists keep the order they were added in.
enum class ExportFormat { mp4, gif, webp, webm };

inline constexpr std::array<ExportFormat, 4> kExportFormats = {
    ExportFormat::mp4, ExportFormat::gif, ExportFormat::webp, ExportFormat::webm};

// "mp4", "gif", "webp", "webm": also the file name's extension.
constexpr std::string_view exportFormatName(ExportFormat format) {
    switch (format) {
    case ExportFormat::gif:
        return "gif";
    case ExportFormat::webp:
        return "webp";
    case ExportFormat::webm:
        return "webm";
    case ExportFormat::mp4:
        break;
    }
    return "mp4";
}

// "MP4", "GIF", "WebP", "WebM": as the window and sentences name it.
constexpr std::string_view exportFormatTitle(ExportFormat format) {
    switch (format) {
    case ExportFormat::gif:
        return "GIF";
    case ExportFormat::webp:
        return "WebP";
    case ExportFormat::webm:
        return "WebM";
    case ExportFormat::mp4:
        break;
    }
    return "MP4";
}

// "an MP4", "a GIF", "a WebP", "a WebM": for sentences ("... as a GIF").
constexpr std::string_view exportFormatWithArticle(ExportFormat format) {
    return format == ExportFormat::mp4 ? "an MP4" : format == ExportFormat::gif ? "a GIF"
                                                : format == ExportFormat::webp  ? "a WebP"
                                                                                : "a WebM";
}

// The format of that name, in any case; nothing for another name.
inline std::optional<ExportFormat> exportFormatNamed(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (ExportFormat format : kExportFormats)
        if (exportFormatName(format) == lower)
            return format;
    return std::nullopt;
}

// The format a file name's extension names (".GIF" is a GIF); nothing for
// another extension or none.
inline std::optional<ExportFormat> exportFormatOf(const std::filesystem::path& path) {
    const std::string extension = path.extension().string();
    if (extension.size() < 2)
        return std::nullopt;
    return exportFormatNamed(std::string_view(extension).substr(1));
}

} // namespace kavlo
