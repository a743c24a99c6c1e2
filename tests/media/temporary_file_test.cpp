// Intermediate files are locked while a render holds them, and the sweep at
// the next start removes those nobody holds any more.
#include "media/error.h"
#include "media/temporary_file.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

fs::path makeFile(const fs::path& path, std::chrono::minutes age) {
    std::ofstream(path) << "left behind";
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    return path;
}

// Another process holding a lock on `path`, as a render does, until killed.
class LockHolder {
  public:
    explicit LockHolder(const fs::path& path) {
        pid_ = fork();
        if (pid_ == 0) {
            // Only calls that are safe between fork and exec.
            const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
            if (fd < 0 || flock(fd, LOCK_EX) != 0)
                _exit(1);
            for (;;)
                pause();
        }
        if (pid_ < 0)
            throw std::runtime_error("cannot fork");
        while (!lockedElsewhere(path)) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_)
                throw std::runtime_error("the lock holder could not lock");
            usleep(5000);
        }
    }
    ~LockHolder() { kill(); }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    static bool lockedElsewhere(const fs::path& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0)
            close(fd);
        return locked;
    }
    pid_t pid_ = -1;
};

TEST(TemporaryFiles, TheSweepRemovesOnlyOldUnheldIntermediates) {
    test::TempDir dir;
    const auto hour = std::chrono::minutes(60);
    const fs::path dead = makeFile(dir / "kavlo-video-1.mp4", hour);
    const fs::path deadSound = makeFile(dir / "kavlo-audio-1.m4a", hour);
    const fs::path recent = makeFile(dir / "kavlo-audio-2.m4a", std::chrono::minutes(0));
    // A crashed session's converted source and preview go the same way;
    // those a running session holds stay.
    const fs::path deadSource = makeFile(dir / "kavlo-source-1.mp4", hour);
    const fs::path deadPreview = makeFile(dir / "kavlo-preview-1.mp4", hour);
    const HeldFile preview(makeFile(dir / "kavlo-preview-2.mp4", hour));
    const fs::path other = makeFile(dir / "kavlo-input-1.mov", hour);
    const fs::path held = dir / "kavlo-video-2.mp4";
    LockHolder holder(held);
    std::optional<TemporaryFile> ours(std::in_place, dir / "kavlo-video-3.mp4");
    for (const fs::path& path : {held, ours->path()})
        fs::last_write_time(path, fs::file_time_type::clock::now() - hour);

    removeStaleTemporaryFiles(dir.path());
    for (const fs::path& gone : {dead, deadSound, deadSource, deadPreview})
        EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_TRUE(fs::exists(recent)) << "may still be written by a build that does not lock";
    EXPECT_TRUE(fs::exists(preview.path())) << "held by this session";
    EXPECT_TRUE(fs::exists(other)) << "not a swept kind";
    EXPECT_TRUE(fs::exists(held)) << "held by a running process";
    EXPECT_TRUE(fs::exists(ours->path())) << "held by this process";

    // A process killed by a signal lets go of its files.
    holder.kill();
    removeStaleTemporaryFiles(dir.path());
    EXPECT_FALSE(fs::exists(held));
    const fs::path path = ours->path();
    ours.reset();
    EXPECT_FALSE(fs::exists(path));
}

TEST(TemporaryFiles, WritersKeepTheLockedFileAndAMissingFolderIsAnError) {
    test::TempDir dir;
    const TemporaryFile file(dir / "kavlo-audio-4.m4a");
    ASSERT_TRUE(fs::exists(file.path()));
    EXPECT_EQ(fs::status(file.path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Overwriting in place, as the muxer does, keeps it held.
    std::ofstream(file.path(), std::ios::trunc) << "sound";
    fs::last_write_time(file.path(), fs::file_time_type::clock::now() - std::chrono::minutes(60));
    removeStaleTemporaryFiles(dir.path());
    EXPECT_TRUE(fs::exists(file.path()));

    EXPECT_THROW(TemporaryFile{dir / "missing" / "kavlo-video-5.mp4"}, Error);
}

} // namespace
} // namespace kavlo
