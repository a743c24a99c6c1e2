// Where the application's resources live (the example video, an optional
// bundled ffmpeg): the directory named by the environment variable
// KAVLO_RESOURCES_DIR when it is set, then "share/kavlo" beside the
// executable's directory (an installed program: <prefix>/bin/kavlo and
// <prefix>/share/kavlo/), then the executable's own directory (the build
// tree, where the build copies the resources next to the program).
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace kavlo {

// The resource directories in the order they are searched, for a program
// in `executableDir`.
std::vector<std::filesystem::path> resourceDirectories(const std::filesystem::path& executableDir);

// The running program's directory (from /proc/self/exe, so no Qt
// application object is needed); empty when it cannot be read.
std::filesystem::path executableDirectory();

// The first regular file named `name` among resourceDirectories() of the
// running program.
std::optional<std::filesystem::path> findResource(const std::filesystem::path& name);

} // namespace kavlo
