// The memory a render may take: what the system and the control groups
// leave free, and a selection refused before reading when it cannot fit.
#include "render/memory_budget.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(MemoryBudget, ReadsMemInfoAndTheTightestControlGroup) {
    EXPECT_EQ(memInfoAvailable("MemTotal: 100 kB\nMemAvailableX: 7 kB\nMemAvailable:   40 kB\n"
                               "SwapFree: 2 kB\n"),
              42u * 1024);
    EXPECT_EQ(memInfoAvailable("MemTotal: 100 kB\n"), std::nullopt);

    TempDir root;
    // v2: the parent's limit is tighter than the process's own group; its
    // inactive file cache counts as free.
    write(root / "cgroup.controllers", "memory");
    write(root / "memory.max", "max\n");
    write(root / "app/run/memory.max", "1000\n");
    write(root / "app/run/memory.current", "700\n");
    write(root / "app/memory.max", "600\n");
    write(root / "app/memory.current", "500\n");
    write(root / "app/memory.stat", "active_file 1\ninactive_file 100\n");
    EXPECT_EQ(cgroupAvailable(root.path(), "0::/app/run\n"), 200u);
    EXPECT_EQ(cgroupAvailable(root.path(), "0::/elsewhere\n"), std::nullopt);

    // v1 (a hybrid host): the memory hierarchy, and a limit of "none".
    TempDir hybrid;
    write(hybrid / "memory/job/memory.limit_in_bytes", "5000");
    write(hybrid / "memory/job/memory.usage_in_bytes", "4000");
    write(hybrid / "memory/job/memory.stat", "total_inactive_file 500\n");
    write(hybrid / "memory/memory.limit_in_bytes", "9223372036854771712");
    EXPECT_EQ(cgroupAvailable(hybrid.path(), "5:cpu,cpuacct:/job\n4:memory:/job\n0::/job\n"),
              1500u);
}

TEST(MemoryBudget, ASelectionThatCannotFitIsRefusedBeforeReading) {
    TempDir dir;
    const fs::path source = test::makeIndexedVideo(dir / "clip.mp4", {.frames = 30});
    // 30 pictures of 160x96 and the allowance: 256 MB and a little more.
    const uint64_t needed = renderMemoryNeeded(30, 160, 96);
    EXPECT_GT(needed, uint64_t(256) << 20);

    bool read = false;
    auto progress = [&](double) { read = true; };
    RenderOptions tight;
    tight.availableMemory = needed - 1;
    const std::string error = test::errorText(
        [&] { renderPingPongVideo(source, dir / "out.mp4", 0, 1, 1, 1, progress, {}, tight); });
    EXPECT_EQ(error, "Kavlo 30 This selection needs about 0.3 GB of memory to render, but only "
                     "0.3 GB is free. Choose a shorter selection.");
    GifRenderOptions gifTight;
    gifTight.availableMemory = needed / 2;
    EXPECT_TRUE(test::errorText([&] {
                    renderPingPongGIF(source, dir / "out.gif", 0, 1, 1, progress, {}, gifTight);
                }).starts_with("Kavlo 30 "));
    EXPECT_FALSE(read);
    EXPECT_FALSE(fs::exists(dir / "out.mp4"));

    RenderOptions enough;
    enough.availableMemory = needed;
    EXPECT_EQ(renderPingPongVideo(source, dir / "out.mp4", 0, 1, 1, 1, progress, {}, enough)
                  .sourceFrameCount,
              30);
}

} // namespace
} // namespace kavlo
