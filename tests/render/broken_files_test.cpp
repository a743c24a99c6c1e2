// Damaged sources through probing and both renderers: each ends in an error
// with a message, or renders what can be read; a selection inside the intact
// part renders exactly, and nothing crashes or hangs.
#include "media/error.h"
#include "media/input_file.h"
#include "render/ping_pong.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "support/broken_media.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::BrokenFile;
using test::TempDir;

constexpr int kFrames = 60; // two seconds at 30 fps, with sound

// The message of the Error `f` throws, or nothing when it succeeds. Any
// other exception fails the test, and so does a damaged packet reported as
// a decoder's status ("decode: Operation not permitted"): the readers
// conceal damage, or say in their own words that frames could not be read.
template <typename F> std::optional<std::string> failure(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        EXPECT_FALSE(std::string(e.what()).empty()) << e.domain() << " " << e.code();
        EXPECT_FALSE(std::string(e.what()).starts_with("decode: ")) << e.what();
        return e.what();
    }
    return std::nullopt;
}

class BrokenSource : public ::testing::TestWithParam<int> {
  protected:
    const BrokenFile& file() const { return files_.at(GetParam()); }
    fs::path out(const std::string& name) const { return dir_ / ("out" + name); }

    TempDir dir_;
    const std::vector<BrokenFile> files_ = test::makeBrokenFiles(
        dir_.path(),
        test::makeIndexedVideo(
            dir_ / "clip.mp4",
            {.frames = kFrames, .keyframeInterval = 15, .audio = "sin(2*PI*440*t)"}),
        2.0);
};

TEST_P(BrokenSource, EndsInAMessageOrRendersWhatCanBeRead) {
    failure([&] { InputFile(file().path.string()); });

    // The first 0.4 s: exact when intact, else readable frames or a message.
    const bool intact = file().intactSeconds >= 0.4;
    const std::optional<std::string> mp4 =
        failure([&] { renderPingPongVideo(file().path, out(".mp4"), 0, 0.4, 1, 1, nullptr); });
    EXPECT_TRUE(!intact || !mp4) << *mp4;
    if (!mp4) {
        const auto video = test::decodeVideo(out(".mp4"));
        if (intact) {
            EXPECT_EQ(test::frameIndices(video), pingPongIndexSequence(12, 1));
        }
        for (const auto& frame : video.frames)
            EXPECT_TRUE(frame.index >= 0 && frame.index < 12) << frame.index;
    }
    const std::optional<std::string> gif =
        failure([&] { renderPingPongGIF(file().path, out(".gif"), 0, 0.4, 1, nullptr); });
    EXPECT_TRUE(!intact || !gif) << *gif;

    // The whole file, most of it beyond what a cut file still holds: what
    // can be read, never a damaged or made-up picture.
    const std::optional<std::string> whole =
        failure([&] { renderPingPongVideo(file().path, out("-all.mp4"), 0, 2, 1, 1, nullptr); });
    if (!whole) {
        for (const auto& frame : test::decodeVideo(out("-all.mp4")).frames)
            EXPECT_TRUE(frame.index >= 0 && frame.index < kFrames) << frame.index;
    }
}

INSTANTIATE_TEST_SUITE_P(Render, BrokenSource, ::testing::Range(0, test::kBrokenFileCount),
                         [](const auto& info) {
                             return std::string(test::kBrokenFileNames[info.param]);
                         });

// The source changes under a render that has begun reading it: removed or
// replaced, the render finishes from the file it opened; cut short in place,
// it ends in a message or with the pictures it could still read.
TEST(ChangingSource, ARenderFinishesFromTheFileItOpenedOrSaysWhy) {
    TempDir dir;
    const fs::path original = test::makeIndexedVideo(
        dir / "original.mp4", {.frames = kFrames, .audio = "sin(2*PI*440*t)"});
    const fs::path other = test::makeIndexedVideo(dir / "other.mp4", {.width = 192, .frames = 10});
    const std::vector<int> sequence = pingPongIndexSequence(30, 1);
    auto renderWhile = [&](const std::function<void(const fs::path&)>& change) {
        const fs::path source = dir / "source.mp4";
        fs::copy_file(original, source, fs::copy_options::overwrite_existing);
        bool changed = false;
        return failure([&] {
            renderPingPongVideo(source, dir / "out.mp4", 0, 1, 1, 1, [&](double) {
                if (!std::exchange(changed, true))
                    change(source);
            });
        });
    };
    for (const auto& change : std::vector<std::function<void(const fs::path&)>>{
             [](const fs::path& source) { fs::remove(source); },
             [&](const fs::path& source) {
                 fs::copy_file(other, source.string() + ".new");
                 fs::rename(source.string() + ".new", source);
             }}) {
        ASSERT_EQ(renderWhile(change), std::nullopt);
        EXPECT_EQ(test::frameIndices(test::decodeVideo(dir / "out.mp4")), sequence);
    }
    const std::optional<std::string> cut =
        renderWhile([](const fs::path& source) { fs::resize_file(source, 4096); });
    if (!cut) {
        for (const auto& frame : test::decodeVideo(dir / "out.mp4").frames)
            EXPECT_TRUE(frame.index >= 0 && frame.index < 30) << frame.index;
    }
}

} // namespace
} // namespace kavlo
