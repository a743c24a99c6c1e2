// Size budgets, estimates and presets, on whole renders.
#include "core/error_codes.h"
#include "media/error.h"
#include "render/presets.h"
#include "render/sample_encoder.h"
#include "render/size_budget.h"
#include "support/test_corpus.h"
#include "support/test_gif.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

ExportRequest requestOf(const fs::path& source, ExportFormat format, double start, double end) {
    return {.source = source, .trimStart = start, .trimEnd = end, .format = format, .limits = {}};
}

// Every clip of the corpus, as a GIF and as an MP4 of two loops, with a
// budget of 60 % of what the export without one is expected to weigh.
TEST(SizeBudget, IsNeverExceededAcrossTheCorpus) {
    TempDir dir;
    for (const test::CorpusClip& clip : test::corpusClips()) {
        const fs::path source = test::makeCorpusClip(dir.path(), clip);
        for (ExportFormat format : {ExportFormat::gif, ExportFormat::mp4}) {
            SCOPED_TRACE(clip.name + " as " + std::string(exportFormatName(format)));
            ExportRequest request = requestOf(source, format, 0.4, 1.1);
            request.loops = 2;
            request.limits.minLongSide = 32;
            const SizeEstimate unbounded = estimateExport(request);
            ASSERT_GT(unbounded.bytes, 0u);
            request.maxBytes = unbounded.bytes * 6 / 10;
            const fs::path output = dir / ("budget." + std::string(exportFormatName(format)));
            try {
                const BudgetOutcome outcome = renderWithinBudget(request, output, {});
                EXPECT_LE(fs::file_size(output), request.maxBytes);
                EXPECT_EQ(outcome.bytes, fs::file_size(output));
                EXPECT_GE(outcome.fullEncodes, 1);
            } catch (const Error& e) {
                // Refusing is allowed; writing over the budget is not.
                EXPECT_EQ(e.code(), kBudgetUnreachable) << e.what();
                EXPECT_FALSE(fs::exists(output));
            }
            fs::remove(output);
        }
    }
}

// Pictures this large are weighed on smaller samples and carried to their
// area; the plain exports must still land near the estimate. Samples read
// with seeks to the key frames weigh as samples read through, and those a
// later estimate takes from the one before (a trim, a speed) as read anew;
// after a change of speed alone the GIF's runs are not encoded again.
TEST(SizeEstimate, SmallerSamplesStayWithinAFifthOfTheFile) {
    TempDir dir;
    const fs::path source =
        test::makeIndexedVideo(dir / "grain.mp4", {.width = 640,
                                                   .height = 360,
                                                   .frames = 45,
                                                   .keyframeInterval = 8,
                                                   .filter = "noise=alls=8:allf=t+u"});
    const ExportRequest first = requestOf(source, ExportFormat::gif, 0.2, 1.2);
    SampleModel before(first, {}, {});
    estimateExport(before, first);
    // A trim far enough that no window stays where it was (the palette
    // is the one before's), and a speed.
    const ExportRequest trimmed = requestOf(source, ExportFormat::gif, 0.7, 1.2);
    ExportRequest faster = first, slower = first;
    faster.speed = 2;
    slower.speed = 0.5;
    for (const ExportRequest& later : {trimmed, faster, slower}) {
        SampleModel fresh(later, {}, {});
        SampleModel reused(later, {}, {}, &before);
        EXPECT_NEAR(double(estimateExport(reused, later).bytes) /
                        double(estimateExport(fresh, later).bytes),
                    1.0, 0.03)
            << later.trimStart << " s at speed " << later.speed;
        if (later.speed == 0.5) {
            EXPECT_EQ(reused.encodes(), 0);
        }
    }
    for (ExportFormat format : {ExportFormat::mp4, ExportFormat::gif, ExportFormat::webp}) {
        SCOPED_TRACE(exportFormatName(format));
        const ExportRequest request = requestOf(source, format, 0.2, 1.2);
        const SizeEstimate estimate = estimateExport(request);
        const fs::path output = dir / ("plain." + std::string(exportFormatName(format)));
        renderWithinBudget(request, output, {});
        const double real = double(fs::file_size(output));
        EXPECT_NEAR(double(estimate.bytes) / real, 1.0, 0.2) << estimate.bytes << " vs " << real;
    }
}

TEST(SizeBudget, OutOfReachIsRefusedFromTheSamplesAndLeavesNoFile) {
    TempDir dir;
    const fs::path source =
        test::makeIndexedVideo(dir / "clip.mp4", {.width = 320, .height = 192, .frames = 60});
    ExportRequest request = requestOf(source, ExportFormat::gif, 0.0, 1.5);
    request.maxBytes = 3000;
    const fs::path output = dir / "out" / "loop.gif";
    fs::create_directories(output.parent_path());
    double reached = 0;
    try {
        renderWithinBudget(request, output, [&](double p) { reached = std::max(reached, p); });
        FAIL() << "a 3 kB budget was met";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), kBudgetUnreachable);
        const std::string sentence = e.what();
        EXPECT_EQ(sentence.rfind("This loop cannot be made smaller than ", 0), 0u) << sentence;
        EXPECT_NE(sentence.find(" as a GIF. Choose a shorter selection or another format."),
                  std::string::npos)
            << sentence;
    }
    // Only the samples were read: no full encode began.
    EXPECT_LE(reached, 0.1);
    EXPECT_TRUE(fs::is_empty(output.parent_path()));
}

TEST(Presets, ABrokenFileLeavesTheBuiltInTableAndAGoodOneChangesIt) {
    TempDir dir;
    const fs::path file = dir / "presets.json";
    auto names = [](const std::vector<ExportPreset>& presets) {
        std::vector<std::string> out;
        for (const ExportPreset& p : presets)
            out.push_back(p.name + ":" + std::to_string(p.maxBytes));
        return out;
    };
    for (const char* broken :
         {"{\"discord\": {\"max_bytes\": 5}", "[1, 2]", "{\"discord\": {\"max_bytes\": \"lots\"}}",
          "{\"mine\": {\"max_bytes\": 1000}}", "{\"x\": {\"colour\": \"red\"}}"}) {
        std::ofstream(file) << broken;
        const PresetTable table = loadPresets(file);
        EXPECT_EQ(names(table.presets), names(builtInPresets())) << broken;
        EXPECT_NE(table.problem.find("built-in presets are used"), std::string::npos) << broken;
    }
    std::ofstream(file) << R"({"discord": {"max_bytes": "25 MB"},
                              "forum": {"format": "mp4", "max_bytes": 4000000, "max_width": 640,
                                        "max_height": 640, "sound": false}})";
    const PresetTable table = loadPresets(file);
    EXPECT_EQ(table.problem, "");
    ASSERT_NE(findPreset(table.presets, "discord"), nullptr);
    EXPECT_EQ(findPreset(table.presets, "discord")->maxBytes, 25'000'000u);
    EXPECT_EQ(findPreset(table.presets, "discord")->format, ExportFormat::gif);
    const ExportPreset* forum = findPreset(table.presets, "forum");
    ASSERT_NE(forum, nullptr);
    EXPECT_EQ(forum->format, ExportFormat::mp4);
    EXPECT_EQ(forum->maxSize, (RenderSize{640, 640}));
    EXPECT_FALSE(forum->sound);
    EXPECT_EQ(loadPresets(dir / "missing.json").problem, "");
}

TEST(Presets, ASquareStickerKeepsAPortraitPictureUprightInTheMiddle) {
    TempDir dir;
    // 96x160 upright, stored turned with a display matrix.
    const fs::path source = test::makeTurnedVideo(dir.path(), test::kTurnedClips[0], 30);
    ExportRequest request = requestFor(*findPreset(builtInPresets(), "slack-emoji"));
    request.source = source;
    request.trimStart = 0;
    request.trimEnd = 0.5;
    const fs::path output = dir / "emoji.gif";
    const BudgetOutcome outcome = renderWithinBudget(request, output, {});
    EXPECT_LE(fs::file_size(output), 128'000u);

    const test::GifStructure gif = test::readGifStructure(output);
    EXPECT_EQ(std::pair(gif.width, gif.height), std::pair(128, 128));
    // 96x160 fitted into 128x128 is 76x128, centred: nothing is ever drawn
    // in the margins, which viewers show transparent.
    EXPECT_EQ(outcome.size, (RenderSize{76, 128}));
    const int margin = (128 - 76) / 2;
    ASSERT_FALSE(gif.images.empty());
    for (const test::GifImageBlock& image : gif.images) {
        EXPECT_GE(image.left, margin);
        EXPECT_LE(image.left + image.width, margin + 76);
    }
    const std::vector<test::RgbPicture> pictures = test::decodeGif(output);
    ASSERT_FALSE(pictures.empty());
    for (const test::RgbPicture& canvas : pictures) {
        test::RgbPicture inner{76, 128, {}};
        for (int y = 0; y < 128; ++y)
            inner.rgb.insert(inner.rgb.end(), canvas.at(margin, y), canvas.at(margin + 76, y));
        EXPECT_GE(inner.frameIndex(), 0) << "the picture is not upright";
    }
}

} // namespace
} // namespace kavlo
