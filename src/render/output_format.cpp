#include "render/output_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

namespace kavlo {

namespace {

struct FormatNames {
    OutputFormat format;
    std::string_view name, withArticle, title;
};
constexpr std::array<FormatNames, 4> kNames{{
    {OutputFormat::mp4, "mp4", "an MP4", "MP4"},
    {OutputFormat::gif, "gif", "a GIF", "GIF"},
    {OutputFormat::webp, "webp", "a WebP", "WebP"},
    {OutputFormat::webm, "webm", "a WebM", "WebM"},
}};

const FormatNames& names(OutputFormat format) {
    return *std::find_if(kNames.begin(), kNames.end(),
                         [format](const FormatNames& n) { return n.format == format; });
}

} // namespace

std::string_view formatName(OutputFormat format) {
    return names(format).name;
}

std::string_view formatWithArticle(OutputFormat format) {
    return names(format).withArticle;
}

std::string_view formatTitle(OutputFormat format) {
    return names(format).title;
}

std::optional<OutputFormat> formatFromName(std::string_view name) {
    for (const FormatNames& n : kNames) {
        if (n.name == name)
            return n.format;
    }
    return std::nullopt;
}

std::optional<OutputFormat> formatFromExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (extension.size() < 2)
        return std::nullopt;
    extension.erase(0, 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "m4v" || extension == "mov")
        return OutputFormat::mp4;
    return formatFromName(extension);
}

std::string formatFileSize(double bytes) {
    char text[32];
    auto scaled = [&](double value, const char* unit) {
        // Three significant digits at most: 9.62 MB reads as 9.6 MB, 142 kB as 142 kB.
        if (value < 99.95)
            std::snprintf(text, sizeof text, "%.1f %s", value, unit);
        else
            std::snprintf(text, sizeof text, "%.0f %s", value, unit);
        return std::string(text);
    };
    if (!(bytes >= 0))
        bytes = 0;
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%.0f bytes", std::round(bytes));
        return text;
    }
    if (bytes < 999500)
        return scaled(bytes / 1e3, "kB");
    if (bytes < 999.5e6)
        return scaled(bytes / 1e6, "MB");
    return scaled(bytes / 1e9, "GB");
}

} // namespace kavlo
