// Presets: where a loop is going, and what that place accepts. One table
// here (the README shows the same one); a user's presets.json may add
// presets or change these.
#pragma once

#include "core/export_format.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlo {

struct ExportPreset {
    std::string name;  // "discord": the command line's and analytics' name
    std::string title; // "Discord": "GIF for Discord" in the window
    ExportFormat format = ExportFormat::gif;
    uint64_t maxBytes = 0; // the budget; 0: none
    // The picture fits inside this box; {0, 0}: no limit.
    RenderSize maxSize;
    // The file is exactly maxSize, the picture centred in it with
    // transparent margins where its shape differs.
    bool squareCanvas = false;
    // The picture keeps the largest size the box allows: the place wants
    // that size (a sticker), so a budget is never met by making it smaller.
    bool fixedSize = false;
    double maxFrameRate = 0; // 0: no limit
    // The least a budget may bring the picture down to.
    double minFrameRate = 10;
    int minLongSide = 240;
    // The longest cycle (forward and back) the place plays; 0: no limit.
    double maxCycleSeconds = 0;
    bool sound = true;
    std::string reason;
};

const std::vector<ExportPreset>& builtInPresets();

struct PresetTable {
    std::vector<ExportPreset> presets;
    // Why the user's file was not used, in one sentence; empty when it was
    // used or there is none.
    std::string problem;
};

// The built-in table with the presets of `file` added or changed. A file
// that is missing is no problem; one that cannot be read or understood is
// left out whole, and `problem` says why.
//
// The file is one JSON object whose keys are preset names; each value an
// object with any of "format" ("mp4", "gif", "webp", "webm"), "max_bytes"
// (a number, or text as for parseByteSize), "max_width", "max_height",
// "square", "fixed_size", "max_fps", "min_fps", "min_long_side",
// "max_seconds", "sound", "title" and "reason". A built-in preset keeps what
// the file does not change; a new one needs at least "format".
PresetTable loadPresets(const std::filesystem::path& file);

// $XDG_CONFIG_HOME/Kavlo/presets.json, or ~/.config/Kavlo/presets.json
// when XDG_CONFIG_HOME is unset or not absolute.
std::filesystem::path presetsFilePath();

const ExportPreset* findPreset(const std::vector<ExportPreset>& presets, std::string_view name);

// "10000000", "500kB", "500 kB", "9.5 MB", "15M": decimal (1 kB = 1000
// bytes); none for anything else, and for 0.
std::optional<uint64_t> parseByteSize(std::string_view text);

// A size in bytes as people read it, in decimal units with three
// significant digits at most: "820 bytes", "480 kB", "9.6 MB", "14.2 MB".
std::string formatFileSize(double bytes);

} // namespace kavlo
