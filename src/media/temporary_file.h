// The renderer's intermediate files in the temporary directory, and what
// keeps them from piling up.
//
// A render owns its intermediates for as long as it runs and holds a lock
// on each (flock). The kernel drops the lock when the process ends, however
// it ends: a render killed by a signal leaves its files behind, but
// unlocked. The first intermediate a process makes removes every
// "kavlo-video-" and "kavlo-audio-" file in the temporary directory that
// nobody holds, so files of dead processes vanish at the next start while
// those of renders running in other processes stay. The session's own
// files, converted sources ("kavlo-source-") and rendered previews
// ("kavlo-preview-"), are held the same way (HeldFile) and swept with them.
#pragma once

#include <filesystem>
#include <string_view>

namespace kavlo {

// A path in the user's temporary directory named "kavlo-" + role + "-" +
// a new UUID + extension ("kavlo-audio-<UUID>.m4a"). Nothing is created.
std::filesystem::path newTemporaryPath(std::string_view role, std::string_view extension);

// Creates an empty file at `path` (mode 0600) that appears already locked,
// and removes it when the guard goes out of scope, however the scope is
// left (return, error or cancellation). Writers open the path and write
// into this same file (they must not remove it first, or the lock would
// stay with the removed file). The first guard of a process removes stale
// intermediates first. Throws Error (media domain) when the file cannot be
// created.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    int lockFd_ = -1; // open, holding the lock, until the file is removed
};

// A file of the session's kept for as long as it is used: a shared lock on
// it keeps every sweep away, and it is removed when the object goes. The
// file is created empty (mode 0600) when it does not exist yet; a program
// that then writes into it in place (ffmpeg -y truncates, it does not
// replace) keeps it locked. Throws Error (media domain) when the file can
// be neither opened nor created.
class HeldFile {
  public:
    explicit HeldFile(std::filesystem::path path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    int lockFd_ = -1;
};

// Removes the "kavlo-video-*", "kavlo-audio-*", "kavlo-source-*" and
// "kavlo-preview-*" files in `directory` that belong to the current user,
// are older than a minute and that no process holds locked. Failures are
// ignored: a file that cannot be removed now is tried again next time.
void removeStaleTemporaryFiles(const std::filesystem::path& directory) noexcept;

} // namespace kavlo
