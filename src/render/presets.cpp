#include "render/presets.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kavlo {

namespace {

using Json = nlohmann::json;

ExportPreset gif(std::string name, std::string title, uint64_t bytes, std::string reason) {
    ExportPreset p;
    p.name = std::move(name);
    p.title = std::move(title);
    p.format = ExportFormat::gif;
    p.maxBytes = bytes;
    p.reason = std::move(reason);
    return p;
}

std::vector<ExportPreset> makeBuiltIns() {
    std::vector<ExportPreset> table;
    table.push_back(gif("discord", "Discord", 10'000'000, "Discord's free uploads stop at 10 MB"));
    table.push_back(gif("github", "GitHub", 10'000'000,
                        "GitHub takes images of at most 10 MB in issues and comments"));
    ExportPreset x = gif("x", "X", 15'000'000, "X takes GIFs of at most 15 MB and 1280x1080");
    x.maxSize = {1280, 1080};
    table.push_back(x);

    ExportPreset whatsapp;
    whatsapp.name = "whatsapp-sticker";
    whatsapp.title = "WhatsApp Sticker";
    whatsapp.format = ExportFormat::webp;
    whatsapp.maxBytes = 500'000;
    whatsapp.maxSize = {512, 512};
    whatsapp.squareCanvas = true;
    whatsapp.fixedSize = true;
    whatsapp.sound = false;
    whatsapp.reason = "WhatsApp's animated stickers are WebP of 512x512 and at most 500 KB";
    table.push_back(whatsapp);

    ExportPreset telegram;
    telegram.name = "telegram-sticker";
    telegram.title = "Telegram Sticker";
    telegram.format = ExportFormat::webm;
    telegram.maxBytes = 256'000;
    telegram.maxSize = {512, 512};
    telegram.fixedSize = true;
    telegram.maxFrameRate = 30;
    telegram.maxCycleSeconds = 3;
    telegram.sound = false;
    telegram.reason = "Telegram's video stickers are VP9 WebM, longest side 512, at most 30 fps, "
                      "3 s and 256 KB, without sound";
    table.push_back(telegram);

    ExportPreset slack = gif("slack-emoji", "Slack Emoji", 128'000,
                             "Slack's custom emoji are 128x128 images of at most 128 KB");
    slack.maxSize = {128, 128};
    slack.squareCanvas = true;
    slack.fixedSize = true;
    slack.minFrameRate = 5;
    table.push_back(slack);
    return table;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

[[noreturn]] void bad(const std::string& preset, const std::string& what) {
    throw std::runtime_error("preset \"" + preset + "\": " + what);
}

int positiveInt(const Json& value, const std::string& preset, const char* key) {
    if (!value.is_number_integer() || value.get<int64_t>() < 1 || value.get<int64_t>() > 16384)
        bad(preset, std::string("\"") + key + "\" must be a whole number from 1 to 16384");
    return value.get<int>();
}

double positiveNumber(const Json& value, const std::string& preset, const char* key) {
    if (!value.is_number() || !(value.get<double>() > 0) || !std::isfinite(value.get<double>()))
        bad(preset, std::string("\"") + key + "\" must be a number above 0");
    return value.get<double>();
}

bool flag(const Json& value, const std::string& preset, const char* key) {
    if (!value.is_boolean())
        bad(preset, std::string("\"") + key + "\" must be true or false");
    return value.get<bool>();
}

std::string text(const Json& value, const std::string& preset, const char* key) {
    if (!value.is_string())
        bad(preset, std::string("\"") + key + "\" must be text");
    return value.get<std::string>();
}

void apply(ExportPreset& p, const Json& fields) {
    if (!fields.is_object())
        bad(p.name, "must be an object");
    for (const auto& [key, value] : fields.items()) {
        if (key == "format") {
            const std::optional<ExportFormat> format =
                exportFormatNamed(lowered(text(value, p.name, "format")));
            if (!format)
                bad(p.name, "\"format\" must be \"mp4\", \"gif\", \"webp\" or \"webm\"");
            p.format = *format;
        } else if (key == "max_bytes") {
            std::optional<uint64_t> bytes;
            if (value.is_number_unsigned() || value.is_number_integer())
                bytes = value.get<int64_t>() > 0 ? std::optional<uint64_t>(value.get<uint64_t>())
                                                 : std::nullopt;
            else if (value.is_string())
                bytes = parseByteSize(value.get<std::string>());
            if (!bytes)
                bad(p.name, "\"max_bytes\" must be a size such as 10000000 or \"9.5 MB\"");
            p.maxBytes = *bytes;
        } else if (key == "max_width") {
            p.maxSize.width = positiveInt(value, p.name, "max_width");
        } else if (key == "max_height") {
            p.maxSize.height = positiveInt(value, p.name, "max_height");
        } else if (key == "square") {
            p.squareCanvas = flag(value, p.name, "square");
        } else if (key == "fixed_size") {
            p.fixedSize = flag(value, p.name, "fixed_size");
        } else if (key == "max_fps") {
            p.maxFrameRate = positiveNumber(value, p.name, "max_fps");
        } else if (key == "min_fps") {
            p.minFrameRate = positiveNumber(value, p.name, "min_fps");
        } else if (key == "min_long_side") {
            p.minLongSide = positiveInt(value, p.name, "min_long_side");
        } else if (key == "max_seconds") {
            p.maxCycleSeconds = positiveNumber(value, p.name, "max_seconds");
        } else if (key == "sound") {
            p.sound = flag(value, p.name, "sound");
        } else if (key == "title") {
            p.title = text(value, p.name, "title");
        } else if (key == "reason") {
            p.reason = text(value, p.name, "reason");
        } else {
            bad(p.name, "unknown setting \"" + key + "\"");
        }
    }
    // A box with one side only limits that side.
    if (p.squareCanvas && (p.maxSize.width < 1 || p.maxSize.height < 1))
        bad(p.name, "\"square\" needs \"max_width\" and \"max_height\"");
}

bool validName(const std::string& name) {
    return !name.empty() && name.size() <= 40 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

} // namespace

const std::vector<ExportPreset>& builtInPresets() {
    static const std::vector<ExportPreset> table = makeBuiltIns();
    return table;
}

const ExportPreset* findPreset(const std::vector<ExportPreset>& presets, std::string_view name) {
    const auto found = std::find_if(presets.begin(), presets.end(),
                                    [name](const ExportPreset& p) { return p.name == name; });
    return found == presets.end() ? nullptr : &*found;
}

PresetTable loadPresets(const std::filesystem::path& file) {
    PresetTable table{builtInPresets(), {}};
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return table;
    const std::string shown = file.string();
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    if (!in.good() && !in.eof()) {
        table.problem = "Could not read " + shown + "; the built-in presets are used.";
        return table;
    }
    std::vector<ExportPreset> presets = table.presets;
    try {
        const Json root = Json::parse(content.str());
        if (!root.is_object())
            throw std::runtime_error("it must be one object of presets by name");
        for (const auto& [name, fields] : root.items()) {
            if (!validName(name))
                throw std::runtime_error("\"" + name +
                                         "\" is not a preset name (lower-case letters, digits "
                                         "and dashes)");
            auto existing =
                std::find_if(presets.begin(), presets.end(),
                             [&key = name](const ExportPreset& p) { return p.name == key; });
            if (existing != presets.end()) {
                apply(*existing, fields);
                continue;
            }
            if (!fields.is_object() || !fields.contains("format"))
                bad(name, "a new preset needs a \"format\"");
            ExportPreset added;
            added.name = name;
            added.title = name;
            apply(added, fields);
            presets.push_back(std::move(added));
        }
    } catch (const std::exception& e) {
        table.problem = shown + " was not used (" + e.what() + "); the built-in presets are used.";
        return table;
    }
    table.presets = std::move(presets);
    return table;
}

std::filesystem::path presetsFilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".config";
    }
    return base / "Kavlo" / "presets.json";
}

std::optional<uint64_t> parseByteSize(std::string_view text) {
    auto trim = [](std::string_view s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
            s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
            s.remove_suffix(1);
        return s;
    };
    text = trim(text);
    std::size_t digits = 0;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
        ++digits;
    if (digits == 0)
        return std::nullopt;
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + digits, number);
    if (error != std::errc() || end != text.data() + digits)
        return std::nullopt;
    const std::string unit = lowered(trim(text.substr(digits)));
    double scale = 0;
    if (unit.empty() || unit == "b")
        scale = 1;
    else if (unit == "k" || unit == "kb")
        scale = 1e3;
    else if (unit == "m" || unit == "mb")
        scale = 1e6;
    else if (unit == "g" || unit == "gb")
        scale = 1e9;
    else
        return std::nullopt;
    const double bytes = std::floor(number * scale + 1e-6);
    if (!(bytes >= 1) || bytes > 1e15 || (scale == 1 && number != std::floor(number)))
        return std::nullopt;
    return static_cast<uint64_t>(bytes);
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
