// Where renders write: the old file or the finished new one, never a half-written
// one, whatever ends the render; no leftovers but after a kill.
#include "media/error.h"
#include "render/render_export.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::errorText;
using test::fileNamesIn;
using test::readFile;
using test::TempDir;

constexpr char kOld[] = "the old file, which must survive";

// A small file system of its own, mounted while the object lives; needs
// root with the right to mount (not every CI container has it).
struct ScratchMount {
    ScratchMount(const fs::path& at, const std::string& options) : at(at) {
        fs::create_directories(at);
        mounted = ::mount("kavlo-test", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScratchMount() {
        if (mounted)
            ::umount2(at.c_str(), MNT_DETACH);
    }
    const fs::path at;
    bool mounted = false;
};

// Writes past `bytes` fail with EFBIG, as a full disk fails with ENOSPC; the
// signal that would end the process is ignored meanwhile. Works without
// privileges.
struct FileSizeLimit {
    rlimit saved{};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

struct Case {
    const char* name;
    ExportFormat format;
    bool sound = false;
};
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class Destination : public ::testing::TestWithParam<Case> {
  protected:
    fs::path target(const fs::path& folder) const {
        return folder / ("loop." + std::string(exportFormatName(GetParam().format)));
    }

    RenderResult render(const fs::path& output, double start, double end,
                        const ProgressCallback& progress = nullptr,
                        std::stop_token stop = {}) const {
        return renderExport(source_, output, start, end, 1.0,
                            {.format = GetParam().format, .loops = 2}, progress, stop);
    }

    void expectOnlyTheOldFile(const fs::path& output) const {
        EXPECT_EQ(readFile(output), kOld);
        EXPECT_EQ(fileNamesIn(output.parent_path()), std::vector{output.filename().string()});
    }

    TempDir media_, dir_;
    const fs::path source_ = test::makeIndexedVideo(
        media_ / "source.mp4", {.frames = 30, .audio = GetParam().sound ? "sin(2*PI*440*t)" : ""});
};

TEST_P(Destination, FailuresAndCancellationsLeaveTheOldFileAndSuccessReplacesIt) {
    const fs::path output = target(dir_.path());
    std::ofstream(output) << kOld;
    EXPECT_EQ(errorText([&] { render(output, 5.0, 6.0); }),
              "Kavlo 4 Not enough frames in selected segment");
    expectOnlyTheOldFile(output);
    // Cancelled while writing, it stops there.
    std::stop_source stop;
    double last = 0;
    auto cancel = [&](double p) {
        last = p;
        if (p > 0.6)
            stop.request_stop();
    };
    EXPECT_THROW(render(output, 0.0, 0.3, cancel, stop.get_token()), Cancelled);
    EXPECT_LT(last, 0.85);
    expectOnlyTheOldFile(output);

    render(output, 0.0, 0.3);
    EXPECT_EQ(fileNamesIn(dir_.path()), std::vector{output.filename().string()});
    if (GetParam().format == ExportFormat::gif) {
        EXPECT_EQ(readFile(output).substr(0, 6), "GIF89a");
    } else if (GetParam().format == ExportFormat::webp) {
        EXPECT_EQ(readFile(output).substr(8, 4), "WEBP");
    } else {
        EXPECT_EQ(test::decodeVideo(output).frames.size(), 16u); // 9 frames, 2 loops
    }
}

TEST_P(Destination, AFolderThatCannotBeWrittenFailsBeforeReading) {
    const fs::path folder = dir_ / "locked";
    fs::create_directories(folder);
    std::ofstream(target(folder)) << kOld;
    // Root may write anywhere on a writable file system, so root makes it
    // read-only; anyone else takes the write permission away.
    std::optional<ScratchMount> readOnly;
    if (geteuid() == 0) {
        readOnly.emplace(folder, "size=64k");
        if (!readOnly->mounted)
            GTEST_SKIP() << "root without the right to mount: no folder is unwritable";
        std::ofstream(target(folder)) << kOld; // on the new file system
        ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
        fs::permissions(folder, fs::perms::owner_write, fs::perm_options::remove);
    }
    struct Restore {
        fs::path folder;
        bool mounted;
        ~Restore() {
            if (!mounted)
                fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
        }
    } restore{folder, readOnly.has_value()};
    bool read = false;
    const std::string error =
        errorText([&] { render(target(folder), 0.0, 0.3, [&](double) { read = true; }); });
    EXPECT_TRUE(error == "Kavlo 31 Could not save in \u201clocked\u201d: Read-only file system." ||
                error == "Kavlo 31 Could not save in \u201clocked\u201d: Permission denied.")
        << error;
    EXPECT_FALSE(read);
    EXPECT_EQ(readFile(target(folder)), kOld);
}

TEST_P(Destination, AFullDiskSaysSoAndLeavesTheOldFile) {
    const std::string expected = "Kavlo 32 There is not enough free disk space to write the file.";
    const fs::path output = target(dir_.path());
    std::ofstream(output) << kOld;
    {
        FileSizeLimit limit(2048);
        EXPECT_EQ(errorText([&] { render(output, 0.0, 1.0); }), expected);
    }
    expectOnlyTheOldFile(output);

    // A real full file system, where this machine lets us make one: one
    // page, already full with the old file before anything is written, and
    // two, which the export fills (the WebP of this source, under 4 KB, fits
    // in what the old file leaves).
    for (const char* size : {"size=4k", "size=8k"}) {
        SCOPED_TRACE(size);
        if (GetParam().format == ExportFormat::webp && size == std::string("size=8k"))
            continue;
        const fs::path small = dir_ / size;
        ScratchMount mount(small, size);
        if (!mount.mounted)
            GTEST_SKIP() << "cannot mount a small file system here";
        std::ofstream(target(small)) << kOld;
        EXPECT_EQ(errorText([&] { render(target(small), 0.0, 1.0); }), expected);
        expectOnlyTheOldFile(target(small));
    }
}

INSTANTIATE_TEST_SUITE_P(Render, Destination,
                         ::testing::Values(Case{"Mp4", ExportFormat::mp4},
                                           Case{"Mp4WithSound", ExportFormat::mp4, true},
                                           Case{"Gif", ExportFormat::gif},
                                           Case{"Webp", ExportFormat::webp},
                                           Case{"WebmWithSound", ExportFormat::webm, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A render killed outright (the process, not the task) leaves the old file, and
// its partial work under a name that does not look like an export.
TEST(DestinationKill, AKilledRenderLeavesTheOldFile) {
    TempDir dir;
    const fs::path source =
        test::makeIndexedVideo(dir / "source.mp4", {.width = 320, .height = 192, .frames = 60});
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const fs::path output = out / "loop.mp4";
    std::ofstream(output) << kOld;

    const std::string tool = KAVLO_RENDER_TOOL, input = source.string(), target = output.string();
    const char* argv[] = {tool.c_str(), input.c_str(), "-o",      target.c_str(), "--start", "0",
                          "--end",      "2",           "--loops", "40",           nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    auto partialBytes = [&] {
        std::uintmax_t size = 0;
        for (const auto& entry : fs::directory_iterator(out))
            if (entry.path().filename().string().starts_with("kavlo-partial-"))
                size = std::max(size, entry.file_size());
        return size;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (partialBytes() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "finished before it was killed";

    EXPECT_EQ(readFile(output), kOld);
    const std::vector<std::string> names = fileNamesIn(out);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[0].starts_with("kavlo-partial-") && names[0].ends_with(".part")) << names[0];
    EXPECT_EQ(names[1], "loop.mp4");
}

} // namespace
} // namespace kavlo
