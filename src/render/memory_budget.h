// How much memory a render needs, and whether the machine has it.
//
// A render holds every picture of its segment at once (1.5 bytes a pixel),
// and the encoder keeps copies of its own next to them. A selection that
// cannot fit is refused before the first picture is decoded, with a message
// the user can act on, instead of being ended by the kernel's out-of-memory
// killer halfway through.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace kavlo {

// Peak memory of a render of `frames` pictures of width x height: the
// pictures, about 48 more held by the encoder or the GIF palette workers,
// and 256 MB for the libraries and buffers that do not grow with the
// picture. Measured: a 3-second 1080p 30 fps MP4 render peaks at 0.7 GB
// (estimate 0.69), a 3-second 2160p 60 fps one at 2.9 GB (estimate 3.1).
uint64_t renderMemoryNeeded(int64_t frames, int width, int height);

// Memory a new allocation can get without swapping or being killed: the
// system's MemAvailable plus free swap, less where this process's control
// group (v1 or v2, at any level) leaves less room. Nothing when none of it
// can be read.
std::optional<uint64_t> availableMemory();

// The parts of availableMemory(), apart for tests.
//
// MemAvailable + SwapFree from the text of /proc/meminfo.
std::optional<uint64_t> memInfoAvailable(std::string_view meminfo);
// The least room under any memory limit on the path of this process's
// control groups: limit minus usage, with inactive file cache counted as
// free. `cgroupRoot` is where the hierarchies are mounted (/sys/fs/cgroup)
// and `procSelfCgroup` the text of /proc/self/cgroup.
std::optional<uint64_t> cgroupAvailable(const std::filesystem::path& cgroupRoot,
                                        std::string_view procSelfCgroup);

// Throws Error code kSelectionTooLarge when renderMemoryNeeded exceeds
// `available` (the machine's availableMemory() when not given; nothing is
// checked when that cannot be read).
void checkRenderMemory(int64_t frames, int width, int height,
                       std::optional<uint64_t> available = std::nullopt);

} // namespace kavlo
