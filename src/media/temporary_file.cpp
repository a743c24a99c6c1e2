#include "media/temporary_file.h"

#include "media/error.h"
#include "media/file_util.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

namespace kavlo {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kIntermediatePrefixes[] = {"kavlo-video-", "kavlo-audio-",
                                                      "kavlo-source-", "kavlo-preview-"};
// Unlocked files younger than this are left alone: Kavlo builds that did
// not lock their intermediates may still be writing them, and where the
// file system cannot make nameless files a new one is unlocked for an
// instant after it is made.
constexpr auto kStaleAfter = std::chrono::minutes(1);

[[noreturn]] void throwCreateFailed(const fs::path& path, int error) {
    throw Error(kMediaDomain, AVERROR(error),
                "create " + path.filename().string() + ": " + std::strerror(error));
}

// Opens a new file at `path` holding an exclusive lock. The file is made
// without a name, locked and then linked in, so no other process ever sees
// it unlocked; file systems without nameless files get the name first.
int createLocked(const fs::path& path) {
    int fd = ::open(path.parent_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::flock(fd, LOCK_EX) == 0 &&
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return fd;
        const int error = errno;
        ::close(fd);
        if (error == EEXIST)
            throwCreateFailed(path, error);
    }
    fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        throwCreateFailed(path, errno);
    ::flock(fd, LOCK_EX); // nobody else holds a file just made
    return fd;
}

bool isIntermediateName(const std::string& name) {
    for (std::string_view prefix : kIntermediatePrefixes)
        if (name.starts_with(prefix))
            return true;
    return false;
}

bool olderThan(const struct stat& st, std::chrono::seconds age) {
    const auto modified = std::chrono::system_clock::from_time_t(st.st_mtim.tv_sec);
    return std::chrono::system_clock::now() - modified >= age;
}

} // namespace

fs::path newTemporaryPath(std::string_view role, std::string_view extension) {
    std::string name = "kavlo-";
    name += role;
    name += '-';
    name += newUuid();
    name += extension;
    return fs::temp_directory_path() / name;
}

TemporaryFile::TemporaryFile(fs::path path) : path_(std::move(path)) {
    static std::once_flag swept;
    std::call_once(swept, [this] { removeStaleTemporaryFiles(path_.parent_path()); });
    lockFd_ = createLocked(path_);
}

TemporaryFile::~TemporaryFile() {
    // Removed while still locked, so no sweep can mistake it for stale.
    removeFileQuietly(path_);
    ::close(lockFd_);
}

HeldFile::HeldFile(fs::path path) : path_(std::move(path)) {
    lockFd_ = ::open(path_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0)
        throwCreateFailed(path_, errno);
    ::flock(lockFd_, LOCK_SH);
}

HeldFile::~HeldFile() {
    removeFileQuietly(path_);
    ::close(lockFd_);
}

void removeStaleTemporaryFiles(const fs::path& directory) noexcept {
    try {
        std::error_code ec;
        for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path path = it->path();
            if (!isIntermediateName(path.filename().string()))
                continue;
            const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat st {};
            struct stat named {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                olderThan(st, kStaleAfter) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                ::lstat(path.c_str(), &named) == 0 && named.st_ino == st.st_ino)
                ::unlink(path.c_str());
            ::close(fd);
        }
    } catch (...) {
        // Out of memory while listing: try again at the next start.
    }
}

} // namespace kavlo
