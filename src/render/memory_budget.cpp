#include "render/memory_budget.h"

#include "core/error.h"
#include "core/error_codes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace kavlo {

namespace {

namespace fs = std::filesystem;

constexpr int64_t kEncoderPictures = 48;
constexpr uint64_t kFixedBytes = uint64_t(256) << 20;
// Limits at or above this mean "none" (cgroup v1 writes 2^63 rounded down
// to a page).
constexpr uint64_t kNoLimit = uint64_t(1) << 60;

std::optional<std::string> readText(const fs::path& path) {
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<uint64_t> parseNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

// The number after "key" at the start of a line of `text` ("key 123" or
// "key: 123 kB"), or nothing.
std::optional<uint64_t> field(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, key.size()) != key)
            continue;
        line.remove_prefix(key.size());
        if (!line.empty() && line.front() == ':')
            line.remove_prefix(1);
        else if (line.empty() || (line.front() != ' ' && line.front() != '\t'))
            continue; // a longer key that starts the same
        return parseNumber(line);
    }
    return std::nullopt;
}

std::optional<uint64_t> fileNumber(const fs::path& path) {
    const std::optional<std::string> text = readText(path);
    return text ? parseNumber(*text) : std::nullopt;
}

// Room left under the limit of one control group directory, if it has one.
std::optional<uint64_t> roomIn(const fs::path& dir, bool v2) {
    const std::optional<uint64_t> limit =
        fileNumber(dir / (v2 ? "memory.max" : "memory.limit_in_bytes"));
    if (!limit || *limit >= kNoLimit)
        return std::nullopt; // "max", unreadable, or no limit
    const uint64_t usage =
        fileNumber(dir / (v2 ? "memory.current" : "memory.usage_in_bytes")).value_or(*limit);
    uint64_t reclaimable = 0;
    if (const std::optional<std::string> stat = readText(dir / "memory.stat"))
        reclaimable = field(*stat, v2 ? "inactive_file" : "total_inactive_file").value_or(0);
    const uint64_t used = usage - std::min(usage, reclaimable);
    return *limit - std::min(*limit, used);
}

// True when the comma-separated `list` holds `name`.
bool namesController(std::string_view list, std::string_view name) {
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        if (list.substr(at, end - at) == name)
            return true;
        at = end + 1;
    }
    return false;
}

// The least room over `relative` and each of its parents under `mount`.
std::optional<uint64_t> leastRoom(const fs::path& mount, std::string_view relative, bool v2) {
    std::optional<uint64_t> least;
    fs::path path = fs::path(std::string(relative)).relative_path();
    for (;;) {
        if (const std::optional<uint64_t> room = roomIn(mount / path, v2))
            least = std::min(least.value_or(*room), *room);
        if (path.empty())
            break;
        path = path.parent_path();
    }
    return least;
}

std::string gigabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

} // namespace

uint64_t renderMemoryNeeded(int64_t frames, int width, int height) {
    const double pictureBytes = 1.5 * width * height;
    const double bytes = double(std::max<int64_t>(frames, 0) + kEncoderPictures) * pictureBytes +
                         double(kFixedBytes);
    return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

std::optional<uint64_t> memInfoAvailable(std::string_view meminfo) {
    const std::optional<uint64_t> available = field(meminfo, "MemAvailable");
    if (!available)
        return std::nullopt;
    return (*available + field(meminfo, "SwapFree").value_or(0)) * 1024;
}

std::optional<uint64_t> cgroupAvailable(const fs::path& cgroupRoot,
                                        std::string_view procSelfCgroup) {
    std::optional<uint64_t> least;
    auto consider = [&](std::optional<uint64_t> room) {
        if (room)
            least = std::min(least.value_or(*room), *room);
    };
    // Lines are "id:controllers:path"; "0::path" is the unified (v2) tree.
    std::size_t at = 0;
    while (at < procSelfCgroup.size()) {
        const std::size_t end = std::min(procSelfCgroup.find('\n', at), procSelfCgroup.size());
        const std::string_view line = procSelfCgroup.substr(at, end - at);
        at = end + 1;
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (controllers.empty()) {
            const bool unifiedOnly = fs::exists(cgroupRoot / "cgroup.controllers");
            consider(leastRoom(unifiedOnly ? cgroupRoot : cgroupRoot / "unified", path, true));
        } else if (namesController(controllers, "memory")) {
            consider(leastRoom(cgroupRoot / "memory", path, false));
        }
    }
    return least;
}

std::optional<uint64_t> availableMemory() {
    std::optional<uint64_t> available;
    if (const std::optional<std::string> meminfo = readText("/proc/meminfo"))
        available = memInfoAvailable(*meminfo);
    if (const std::optional<std::string> groups = readText("/proc/self/cgroup")) {
        if (const std::optional<uint64_t> room = cgroupAvailable("/sys/fs/cgroup", *groups))
            available = std::min(available.value_or(*room), *room);
    }
    return available;
}

void checkRenderMemory(int64_t frames, int width, int height, std::optional<uint64_t> available) {
    if (!available)
        available = availableMemory();
    const uint64_t needed = renderMemoryNeeded(frames, width, height);
    if (!available || needed <= *available)
        return;
    throw kavloError(kSelectionTooLarge, "This selection needs about " + gigabytes(needed) +
                                             " of memory to render, but only " +
                                             gigabytes(*available) +
                                             " is free. Choose a shorter selection.");
}

} // namespace kavlo
