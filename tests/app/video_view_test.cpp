// The video surface with a fake player: where the picture goes, what shows
// through the bars, resizes and repaints.
#include "app/video_view.h"

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace kavlo {
namespace {

// A solid picture of one colour.
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

// Counts the paints a widget receives.
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
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::red);
        panel_.setPalette(palette);
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
    // A picture of another size (before the player caught up with a resize)
    // is fitted and scaled.
    EXPECT_EQ(placePicture({320, 180}, {0, 0, 640, 400}, 1.0), QRectF(0, 20, 640, 360));
}

TEST_F(VideoViewTest, DrawsThePictureCentredWithTransparentBarsFollowsAResizeAndItsSource) {
    view_->setSource(&source_);
    source_.show(solid(100, 100, kBlue));
    EXPECT_EQ(at(150, 50), kBlue);
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
