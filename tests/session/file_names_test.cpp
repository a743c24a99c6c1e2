// File names, paths and URLs in and out of the session, and what probing reads.
#include "session/file_paths.h"
#include "session/thumbnails.h"
#include "session/video_files.h"
#include "session/video_probe.h"

#include "analytics/event_catalog.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <QFile>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

TEST(VideoFiles, ProposedNamesAndThePanelsPatterns) {
    EXPECT_EQ(proposedExportName("/Users/me/Holiday Clip.mov", ExportFormat::mp4),
              "Holiday Clip-kavlo.mp4");
    EXPECT_EQ(proposedExportName("a.b.mov", ExportFormat::mp4), "a.b-kavlo.mp4");
    EXPECT_EQ(proposedExportName("/tmp/clip", ExportFormat::gif), "clip-kavlo.gif");
    EXPECT_EQ(proposedExportName("/tmp/\xff.mov", ExportFormat::gif), u"\uFFFD-kavlo.gif");

    // Both cases of each extension, and no pattern twice.
    const QStringList& patterns = acceptedVideoPatterns();
    EXPECT_EQ(patterns.mid(0, 4), (QStringList{"*.3g2", "*.3G2", "*.3gp", "*.3GP"}));
    EXPECT_EQ(patterns.count("*.mp4"), 1);
    EXPECT_EQ(patterns.count("*.MOV"), 1);
    for (const QString& type : acceptedVideoMimeTypes())
        EXPECT_TRUE(type.startsWith("video/")) << type.toStdString();
}

// A name with bytes that are not UTF-8, in a folder with such a name, and
// characters that mean something in a URL.
class NamesNotUtf8 : public ::testing::Test {
  protected:
    void SetUp() override {
        subdir_ = dir_ / "d\xe9j\xe0";
        fs::create_directory(subdir_);
        clip_ = test::makeIndexedVideo(subdir_ / "clip \xff%#?.MOV", {.frames = 12});
    }
    test::TempDir dir_;
    fs::path subdir_, clip_;
};

TEST_F(NamesNotUtf8, SurviveFileUrlsAndTheTextQtShowsAndOpenProbeAndReportLikeAnyOther) {
    const QUrl url = fileUrl(clip_);
    EXPECT_EQ(pathFromUrl(url), clip_);
    EXPECT_EQ(pathFromUrl(QUrl::fromEncoded(url.toEncoded())), clip_);
    EXPECT_EQ(pathFromUrl(QUrl("file://localhost" + url.path(QUrl::FullyEncoded))), clip_);
    EXPECT_FALSE(pathFromUrl(QUrl("https://example.com/a.mp4")));
    EXPECT_FALSE(pathFromUrl(QUrl("file://server/share/a.mp4")));

    EXPECT_EQ(generateThumbnails(clip_, probeVideo(clip_).durationSeconds).size(), 12);
    const AnalyticsProperties properties = fileProperties(clip_, VideoLoadSource::commandLine);
    EXPECT_EQ(properties.value("file_type"), "mov");
    EXPECT_EQ(properties.value("file_size_bucket"), "under_10mb");

    // What a file dialog or QUrl::toLocalFile() hands over: the bytes lost.
    const QString shown = QFile::decodeName(QByteArray::fromStdString(clip_.native()));
    ASSERT_NE(QFile::encodeName(shown).toStdString(), clip_.native());
    EXPECT_EQ(pathFromText(shown), clip_);
    EXPECT_EQ(pathFromText(QUrl::fromLocalFile(shown).toString()), clip_);
    EXPECT_EQ(pathFromUrl(QUrl::fromLocalFile(shown)), clip_);
    EXPECT_EQ(displayName(clip_), u"clip \uFFFD%#?.MOV");

    // Two entries that read alike: neither is guessed.
    test::makeIndexedVideo(subdir_ / "clip \xfe%#?.MOV", {.frames = 2});
    EXPECT_NE(pathFromText(shown), clip_);
    EXPECT_EQ(pathFromText(QString::fromUtf8((dir_ / "plain.mp4").native())), dir_ / "plain.mp4");
}

TEST(VideoProbe, SizeDurationAndRateAsTheFileStatesThem) {
    test::TempDir dir;
    const VideoProbe anamorphic = probeVideo(test::makeIndexedVideo(
        dir / "anamorphic.mp4", {.width = 160, .height = 96, .frames = 3, .filter = "setsar=2"}));
    EXPECT_EQ(std::pair(anamorphic.displayWidth, anamorphic.displayHeight), std::pair(320.0, 96.0));

    const VideoProbe brief =
        probeVideo(test::makeIndexedVideo(dir / "brief.mp4", {.rate = "40", .frames = 2}));
    EXPECT_NEAR(brief.durationSeconds, 0.05, 0.002);
    EXPECT_DOUBLE_EQ(brief.nominalFrameRate, 40);

    const VideoProbe ntsc =
        probeVideo(test::makeIndexedVideo(dir / "ntsc.mkv", {.rate = "30000/1001", .frames = 30}));
    EXPECT_NEAR(ntsc.nominalFrameRate, 29.97, 0.01);
    EXPECT_NEAR(ntsc.durationSeconds, 30 * 1001 / 30000.0, 0.01);
}

} // namespace
} // namespace kavlo
