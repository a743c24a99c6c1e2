#include "session/app_resources.h"

#include <cstdlib>
#include <system_error>

namespace kavlo {

namespace fs = std::filesystem;

std::vector<fs::path> resourceDirectories(const fs::path& executableDir) {
    std::vector<fs::path> dirs;
    if (const char* configured = std::getenv("KAVLO_RESOURCES_DIR"); configured && *configured)
        dirs.emplace_back(configured);
    if (!executableDir.empty()) {
        dirs.push_back(executableDir.parent_path() / "share" / "kavlo");
        dirs.push_back(executableDir);
    }
    return dirs;
}

fs::path executableDirectory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

std::optional<fs::path> findResource(const fs::path& name) {
    for (const fs::path& dir : resourceDirectories(executableDirectory())) {
        std::error_code ec;
        if (fs::is_regular_file(dir / name, ec))
            return dir / name;
    }
    return std::nullopt;
}

} // namespace kavlo
