// The main window's content offscreen, and the video surface over a fake player.
#include "app/content_format.h"
#include "app/content_view.h"
#include "app/dialog_file_panels.h"
#include "app/file_handover.h"
#include "app/kavlo_app.h"
#include "app/share_menu.h"
#include "app/status_message.h"
#include "app/status_overlay.h"
#include "app/video_area.h"
#include "app/video_view.h"
#include "app/welcome_overlay.h"
#include "timeline/timeline_bar.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>

namespace kavlo {
namespace {

TEST(ContentFormat, TheVideoAreaFitsAboveTheControlsAndReadOutsKeepMinutes) {
    EXPECT_EQ(videoAreaSize({800, 1200}, 4.0), QSizeF(800, 200));
    EXPECT_EQ(videoAreaSize({800, 557}, 0.01), QSizeF(20, 400)) << "0.01 is taken as 0.05";
    // No room left above the controls: one point tall.
    EXPECT_EQ(videoAreaSize({0, 150}, 2.0), QSizeF(1, 0.5));

    EXPECT_EQ(timeReadout(65.25), "01:05.25");
    EXPECT_EQ(timeReadout(3725.5), "62:05.50") << "minutes are not wrapped into hours";
    EXPECT_EQ(timeReadout(59.996), "01:00.00") << "never 00:60.00";
}

TEST(ShareMenu, AChoiceSaysEstimatingThenTheBudgetsSizeThenTheSettingsChosen) {
    ExportPreset preset;
    preset.name = "discord";
    preset.title = "Discord";
    preset.format = ExportFormat::gif;
    EXPECT_EQ(ShareMenu::choiceText(preset, nullptr, true), u"GIF for Discord · estimating…");
    EXPECT_EQ(ShareMenu::choiceText(preset, nullptr, false), u"GIF for Discord");
    SizeEstimate estimate;
    estimate.bytes = 9'500'000;
    estimate.settled = false;
    EXPECT_EQ(ShareMenu::choiceText(preset, &estimate, true), u"GIF for Discord · about 9.5 MB");
    estimate.settled = true;
    estimate.size = {960, 540};
    EXPECT_EQ(ShareMenu::choiceText(preset, &estimate, true),
              u"GIF for Discord · about 9.5 MB, 960x540");
}

TEST(FilePanelFolders, TheSavePanelStartsBesideTheVideoAndTheOpenPanelWhereItWasLeft) {
    QTemporaryDir dir;
    const QString videos = dir.filePath("videos"), exports = dir.filePath("exports");
    QDir().mkpath(videos);
    QDir().mkpath(exports);
    const std::filesystem::path videoFolder = videos.toStdString();
    EXPECT_EQ(savePanelFolder(videoFolder, exports), videos);
    // The example (no folder) and a folder gone since the load: the last save.
    EXPECT_EQ(savePanelFolder(std::nullopt, exports), exports);
    EXPECT_EQ(savePanelFolder(videoFolder / "gone", exports), exports);
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    const QString fallback = QFileInfo(movies).isDir() ? movies : QDir::homePath();
    EXPECT_EQ(savePanelFolder(std::filesystem::path(), dir.filePath("gone")), fallback);
    EXPECT_EQ(openPanelFolder(videos), videos);
    EXPECT_EQ(openPanelFolder({}), fallback);
}

TEST(StopQuestion, AnswersItselfOnceTheWorkHasEnded) {
    QTimer decline;
    decline.setSingleShot(true);
    QObject::connect(&decline, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    bool running = true;
    QTimer::singleShot(300, [&] { running = false; });
    decline.start(20000); // a question left open fails the test instead of hanging it
    EXPECT_TRUE(askToStopWork(nullptr, "Export in progress", "...", "Close Anyway",
                              [&] { return running; }));
    decline.start(300);
    EXPECT_FALSE(
        askToStopWork(nullptr, "Export in progress", "...", "Close Anyway", [] { return true; }));
}

TEST(StatusMessages, OutcomesAreShownForAWhileByTheirKind) {
    using Kind = StatusMessage::Kind;
    using N = Notice::Kind;
    // The notice says what it is: a file named like a status is just a name.
    const auto saved =
        statusMessage({N::saved, "Saved Marked 3-kavlo.gif", {}, "/v/Marked 3-kavlo.gif"});
    EXPECT_EQ(saved->kind, Kind::saved);
    EXPECT_EQ(saved->file, "/v/Marked 3-kavlo.gif");
    EXPECT_GT(saved->showForMs, 0);
    EXPECT_EQ(statusMessage({N::marked, "Marked start frame 12", {}, {}})->kind, Kind::note);
    EXPECT_FALSE(statusMessage({}));
}

TEST(StatusOverlay, AnOutcomeStaysWhileThePointerIsOnItAndGoesSoonAfterItLeaves) {
    QWidget window;
    window.resize(600, 400);
    StatusOverlay overlay(&window);
    overlay.setArea(window.rect());
    window.show();
    overlay.setNotice({Notice::Kind::marked, "Marked start frame 12", {}, {}});
    ASSERT_TRUE(overlay.shownMessage());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&overlay, &enter);
    QTest::qWait(kNoteShowMs + 300);
    EXPECT_TRUE(overlay.shownMessage()) << "gone from under the pointer";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&overlay, &leave);
    EXPECT_TRUE(overlay.shownMessage());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !overlay.shownMessage(); }, 2500));
}

TEST(FileHandover, TheClipboardAndDragsCarryTheFileAndSmallPicturesTheirBytes) {
    QTemporaryDir dir;
    const std::filesystem::path gif = dir.filePath("loop kavlo.gif").toStdString();
    std::ofstream(gif) << "GIF89a...";
    auto data = fileMimeData(gif);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(gif))});
    EXPECT_EQ(data->data("x-special/gnome-copied-files"),
              "copy\n" + QUrl::fromLocalFile(QString::fromStdString(gif)).toEncoded());
    EXPECT_EQ(data->data("image/gif"), "GIF89a...");

    const std::filesystem::path mp4 = dir.filePath("loop.mp4").toStdString();
    std::ofstream(mp4) << "mp4";
    data = fileMimeData(mp4);
    EXPECT_TRUE(data->hasUrls());
    EXPECT_FALSE(data->hasFormat("image/gif")) << "a movie travels as a file only";
    std::filesystem::resize_file(gif, kMaxImageBytesOnClipboard + 1);
    EXPECT_FALSE(fileMimeData(gif)->hasFormat("image/gif")) << "too large to paste as a picture";
}

class ContentViewTest : public ::testing::Test {
  protected:
    ContentViewTest() {
        view_.resize(1000, 735);
        view_.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view_));
    }
    void load() {
        view_.setLoaded(true);
        view_.setSelection(10, 1, 2.5);
    }

    ContentView view_;
};

TEST_F(ContentViewTest, WithoutAVideoTheWelcomeShowsAndTheControlsAreDimmed) {
    EXPECT_TRUE(view_.welcome()->isVisible());
    EXPECT_FALSE(view_.selectVideoButton()->isEnabled());
    EXPECT_FALSE(view_.timeline()->isEnabled());
    EXPECT_FALSE(view_.videoArea()->previewView()->isVisible()) << "plain black";

    QSignalSpy choose(&view_, &ContentView::chooseVideoRequested);
    QSignalSpy link(&view_, &ContentView::openUrlRequested);
    QTest::mouseClick(view_.welcome()->selectVideoButton(), Qt::LeftButton);
    emit view_.welcome()->link()->linkActivated(QStringLiteral("https://kavlo.app"));
    EXPECT_EQ(choose.count(), 1);
    ASSERT_EQ(link.count(), 1);
    EXPECT_EQ(link[0][0].toUrl(), QUrl("https://kavlo.app"));
}

TEST_F(ContentViewTest, WhileBusyOnlyTheSpeedAndExportControlsAreDisabled) {
    load();
    EXPECT_FALSE(view_.welcome()->isVisible());
    EXPECT_TRUE(view_.videoArea()->previewView()->isVisible());
    view_.setBusy(true);
    for (QWidget* control : std::initializer_list<QWidget*>{
             view_.speedMenu(), view_.exportMP4Menu(), view_.exportGIFButton()})
        EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
    EXPECT_TRUE(view_.selectVideoButton()->isEnabled());
    EXPECT_TRUE(view_.timeline()->isEnabled());
    view_.setBusy(false);
    EXPECT_TRUE(view_.exportGIFButton()->isEnabled());
    view_.setExportSpeed(0.25);
    EXPECT_EQ(view_.speedMenu()->text(), "0.25x speed");
}

TEST_F(ContentViewTest, TheVideoAreaTakesTheShapeAndTheControlsSitBelowIt) {
    load();
    EXPECT_EQ(view_.videoAreaRect(), QRect(18, 18, 964, 542));
    EXPECT_EQ(view_.controlStack()->geometry().top(), 18 + 542 + 16);
    EXPECT_EQ(view_.controlStack()->width(), 964);
    EXPECT_EQ(view_.timeline()->height(), 80);
    EXPECT_EQ(view_.startReadout()->text(), "Start 00:01.00");
    EXPECT_EQ(view_.endReadout()->text(), "End 00:02.50");

    QSignalSpy pixels(&view_, &ContentView::videoAreaPixelSizeChanged);
    view_.setVideoAspect(1.0);
    EXPECT_EQ(view_.videoAreaRect(), QRect(500 - 271, 18, 542, 542)) << "centred";
    ASSERT_EQ(pixels.count(), 1);
    EXPECT_EQ(pixels[0][0].value<PixelSize>(), (PixelSize{542, 542}));

    view_.setScrubOverlayVisible(true);
    EXPECT_TRUE(view_.videoArea()->scrubView()->isVisible());
    view_.setScrubOverlayVisible(false);
    EXPECT_FALSE(view_.videoArea()->scrubView()->isVisible());
}

TEST_F(ContentViewTest, TheNoticeShowsOutcomesOverTheVideoWithoutMovingAnything) {
    using N = Notice::Kind;
    load();
    const QRect video = view_.videoAreaRect(), controls = view_.controlStack()->geometry();
    view_.setNotice({N::failed, "notavideo.mp4 is not a video Kavlo can open.", {}, {}});
    ASSERT_TRUE(view_.statusOverlay()->shownMessage());
    EXPECT_EQ(view_.statusOverlay()->shownMessage()->kind, StatusMessage::Kind::failed);
    EXPECT_TRUE(video.contains(view_.statusOverlay()->geometry()));
    EXPECT_EQ(view_.videoAreaRect(), video);
    EXPECT_EQ(view_.controlStack()->geometry(), controls);
    const QString lines = "Preview failed: moov atom not found\nclip.mp4: Invalid data";
    view_.setNotice({N::failed, lines, {}, {}});
    const int longest =
        view_.statusOverlay()->fontMetrics().horizontalAdvance(lines.section('\n', 0, 0));
    EXPECT_GT(view_.statusOverlay()->width(), longest);
    EXPECT_LT(view_.statusOverlay()->width(), longest + 60);
    EXPECT_TRUE(video.contains(view_.statusOverlay()->geometry()));

    // A preview that renders quickly never shows, nor hides the note before it.
    auto shownText = [&] {
        return view_.statusOverlay()->shownMessage().value_or(StatusMessage()).text;
    };
    const Notice preview{N::previewing, "Preparing the preview…", {}, {}};
    view_.setNotice({N::marked, "Marked start frame 12", {}, {}});
    view_.setNotice(preview);
    EXPECT_EQ(shownText(), "Marked start frame 12");
    view_.setNotice({});
    EXPECT_EQ(shownText(), "Marked start frame 12");
    QTest::qWait(kQuietWorkDelayMs + 100);
    EXPECT_NE(shownText(), "Preparing the preview…") << "the ended work never shows";
    // A slow one does, and goes when it ends.
    view_.setNotice(preview);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shownText() == "Preparing the preview…"; }));
    view_.setNotice({});
    EXPECT_FALSE(view_.statusOverlay()->shownMessage());

    QSignalSpy cancel(&view_, &ContentView::cancelLoadRequested);
    view_.setNotice({N::converting, "Converting a.avi for Kavlo…", 0.34, {}});
    EXPECT_EQ(shownText(), "Converting a.avi for Kavlo… 34 %");
    auto button = [&](const QString& text) {
        for (auto* b : view_.statusOverlay()->findChildren<QPushButton*>())
            if (b->text() == text && b->isVisible())
                return b;
        return static_cast<QPushButton*>(nullptr);
    };
    ASSERT_TRUE(button("Cancel"));
    QTest::mouseClick(button("Cancel"), Qt::LeftButton);
    EXPECT_EQ(cancel.count(), 1);

    QTemporaryDir dir;
    const std::filesystem::path saved = dir.filePath("clip-kavlo.gif").toStdString();
    std::ofstream(saved) << "GIF89a";
    QSignalSpy folder(&view_, &ContentView::showInFolderRequested);
    view_.setNotice({N::saved, "Saved clip-kavlo.gif", {}, saved});
    ASSERT_TRUE(button("Show in Folder") && button("Copy"));
    QTest::mouseClick(button("Show in Folder"), Qt::LeftButton);
    ASSERT_EQ(folder.count(), 1);
    EXPECT_EQ(folder[0][0].value<std::filesystem::path>(), saved);
    QApplication::clipboard()->clear();
    view_.activateWindow();
    QTest::keyClick(&view_, Qt::Key_C, Qt::ControlModifier);
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(clip && clip->hasUrls());
    EXPECT_EQ(clip->urls().value(0).toLocalFile().toStdString(), saved.string());
    EXPECT_EQ(clip->data("image/gif"), "GIF89a");
    EXPECT_TRUE(button("Copied"));
}

VideoImage solid(int width, int height, QRgb colour) {
    VideoImage image = VideoImage::allocate(width, height);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.mutableBits() + y * image.stride());
        std::fill(row, row + width, colour | 0xff000000u);
    }
    return image;
}

class FakeSource : public FrameSource {
  public:
    VideoImage currentImage() const override { return image; }
    void setViewSize(PixelSize size) override { viewSize = size; }
    void show(VideoImage next) {
        image = std::move(next);
        emit frameChanged();
    }
    VideoImage image;
    PixelSize viewSize;
};

class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    int paints = 0;
};

constexpr QRgb kRed = 0xffff0000, kBlue = 0xff0000ff, kGreen = 0xff00ff00;

class VideoViewTest : public ::testing::Test {
  protected:
    VideoViewTest() {
        // A red panel behind the view: the bars must show it.
        panel_.setAutoFillBackground(true);
        panel_.setPalette(QPalette(Qt::black, Qt::red));
        panel_.resize(300, 100);
        view_ = new VideoView(&panel_);
        view_->resize(panel_.size());
    }

    QRgb at(int x, int y) { return panel_.grab().toImage().pixel(x, y); }

    QWidget panel_;
    VideoView* view_;
    FakeSource source_;
};

TEST(PlacePicture, APictureMadeForTheViewIsCopiedPixelForPixelAnyOtherIsFitted) {
    EXPECT_EQ(aspectFitRect({9, 16}, {0, 0, 160, 90}), QRectF(54.6875, 0, 50.625, 90));
    EXPECT_TRUE(aspectFitRect({0, 0}, {0, 0, 40, 30}).isEmpty());
    // 1280x720 fitted into 641x361 is 641.0x360.6: the player makes 641x361.
    EXPECT_EQ(placePicture({641, 361}, {0, 0, 641, 361}, 1.0), QRectF(0, 0, 641, 361));
    EXPECT_EQ(placePicture({640, 360}, {0, 0, 641, 400}, 1.0), QRectF(1, 20, 640, 360))
        << "centred on whole pixels";
    // At 1.5 device pixels per point the picture keeps its own pixel size.
    const QRectF hiDpi = placePicture({960, 540}, {0, 0, 640, 400}, 1.5);
    EXPECT_EQ(hiDpi.size() * 1.5, QSizeF(960, 540));
    EXPECT_EQ(hiDpi.topLeft() * 1.5, QPointF(0, 30));
    // A picture of another size (the player is behind a resize) is fitted and scaled.
    EXPECT_EQ(placePicture({320, 180}, {0, 0, 640, 400}, 1.0), QRectF(0, 20, 640, 360));
}

TEST_F(VideoViewTest, DrawsThePictureCentredWithTransparentBarsFollowsAResizeAndItsSource) {
    view_->setSource(&source_);
    source_.show(solid(100, 100, kBlue));
    EXPECT_EQ(at(102, 50), kBlue);
    EXPECT_EQ(at(97, 50), kRed) << "the left bar hides what lies behind";
    EXPECT_EQ(at(203, 50), kRed);
    EXPECT_EQ(source_.viewSize, (PixelSize{300, 100}))
        << "the player learns the size it is drawn at";

    // Without a new picture.
    panel_.resize(100, 300);
    view_->resize(100, 300);
    EXPECT_EQ(at(50, 150), kBlue);
    EXPECT_EQ(at(50, 50), kRed);
    EXPECT_EQ(at(50, 250), kRed);
    EXPECT_EQ(source_.viewSize, (PixelSize{100, 300}));

    // No picture, then a source that goes away: nothing shows, nothing breaks.
    source_.show({});
    EXPECT_EQ(at(50, 150), kRed);
    {
        FakeSource gone;
        view_->setSource(&gone);
        gone.show(solid(10, 10, kGreen));
        EXPECT_EQ(at(50, 150), kGreen);
    }
    QTest::qWait(10);
    view_->setSource(nullptr);
    EXPECT_EQ(at(50, 150), kRed);
}

TEST_F(VideoViewTest, RepaintsOnlyWhenThePictureChanges) {
    view_->setSource(&source_);
    source_.show(solid(100, 100, kBlue));
    panel_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel_));
    PaintCounter counter(view_);
    QTest::qWait(50);
    counter.paints = 0;
    emit source_.frameChanged(); // the same picture again
    view_->setSource(&source_);  // the same source again
    QTest::qWait(50);
    EXPECT_EQ(counter.paints, 0);
    source_.show(solid(100, 100, kGreen));
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 5000));
}

TEST_F(VideoViewTest, AMoveToAScreenOfAnotherScaleResizesThePlayersPictures) {
    QScreen* standard = QGuiApplication::screenAt({10, 10});
    QScreen* dense = QGuiApplication::screenAt({1610, 10});
    ASSERT_TRUE(standard && dense && dense->devicePixelRatio() == 2 * standard->devicePixelRatio())
        << "needs the two screens of two_screens.json, as ctest sets them";
    panel_.setScreen(standard);
    panel_.move(10, 10);
    view_->setSource(&source_);
    panel_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel_));
    EXPECT_EQ(source_.viewSize, (PixelSize{300, 100}));
    panel_.move(1700, 10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return source_.viewSize == PixelSize{600, 200}; }, 5000));
    panel_.move(10, 10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return source_.viewSize == PixelSize{300, 100}; }, 5000));
}

} // namespace
} // namespace kavlo
