// The window's shape: the formulas at their edge cases, the controller on a
// real (offscreen) window, and what a drop hands over.
#include "app/dropped_file.h"
#include "app/window_contour_controller.h"

#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kavlo {
namespace {

constexpr ContourShape kWide{16.0 / 9.0, 36, 193};

ScreenArea screen(double width, double height) {
    return {QRectF(0, 0, width, height), {}};
}

TEST(ContourFormulas, ContentHeightFollowsTheWidthAndSmallChangesAreNone) {
    EXPECT_DOUBLE_EQ(kWide.contentWidthForHeight(735.25), 1000);
    EXPECT_DOUBLE_EQ((ContourShape{1, 0, 0}).contentHeightForWidth(0.5), 1) << "at least 1";
    EXPECT_EQ((ContourShape{0.01, -3, -1}).sanitized(), (ContourShape{0.05, 0, 0}));
    // Changes within the thresholds are no change.
    EXPECT_FALSE(kWide.differsFrom({kWide.aspect + 0.0001, 36.5, 192.5}));
    EXPECT_TRUE(kWide.differsFrom({kWide.aspect + 0.0002, 36, 193}));
    EXPECT_TRUE(kWide.differsFrom({kWide.aspect, 36.6, 193}));
    EXPECT_TRUE(kWide.differsFrom({kWide.aspect, 36, 192.4}));
    EXPECT_TRUE(sameFrameSize({800, 600}, {800.5, 599.5}));
    EXPECT_FALSE(sameFrameSize({800, 600}, {800.6, 600}));
}

TEST(ContourFormulas, TheScreenLimitsTheWidthSoThatTheHeightFits) {
    EXPECT_EQ(clampToScreen(kWide, {3000, 5}, std::nullopt), QSizeF(3000, 5));
    // Room for 2000 x 700: the widest width whose height fits 700 is
    // 36 + 16/9 * (700 - 193) = 937.33.
    const QSizeF low = clampToScreen(kWide, {1500, 0}, screen(2000, 700));
    EXPECT_DOUBLE_EQ(low.width(), 36 + 16.0 / 9.0 * 507);
    EXPECT_DOUBLE_EQ(low.height(), 700);
    // A portrait video on a small screen (placed on a window below).
    const ContourShape portrait{9.0 / 16.0, 36, 193};
    EXPECT_FALSE(shapeFitsScreen(portrait, screen(1280, 800))) << "no window keeps the shape";
    EXPECT_TRUE(shapeFitsScreen(kWide, screen(1280, 800)));
    EXPECT_TRUE(shapeFitsScreen(portrait, std::nullopt));
    // Frame margins come off the room.
    const ScreenArea framed{QRectF(0, 0, 2000, 700), QMarginsF(1, 30, 1, 1)};
    EXPECT_DOUBLE_EQ(clampToScreen(kWide, {1500, 0}, framed).height(), 669);
}

TEST(ContourFormulas, AUserResizeFollowsTheEdgeDraggedMost) {
    const QSizeF start(1000, 735.25);
    // The width moved more: the height follows (the bottom edge alone is
    // dragged on a window below).
    EXPECT_EQ(lockedResize(kWide, {1100, 700}, start, std::nullopt),
              QSizeF(1100, kWide.contentHeightForWidth(1100)));
    // Never narrower than 760, whichever edge.
    EXPECT_EQ(lockedResize(kWide, {500, 735.25}, start, std::nullopt), QSizeF(760, 600.25));
    EXPECT_EQ(lockedResize(kWide, {1000, 300}, start, std::nullopt), QSizeF(760, 600.25));
    // Nor taller than the screen.
    EXPECT_EQ(lockedResize(kWide, {1000, 1200}, start, screen(3000, 900)).height(), 900);
}

TEST(ContourFormulas, ARefitKeepsTheTopLeftCornerInsideTheScreen) {
    const std::optional<ScreenArea> area = screen(1600, 1000);
    EXPECT_EQ(refittedFrame({100, 50, 800, 600}, {900, 700}, area), QRectF(100, 50, 900, 700));
    EXPECT_EQ(refittedFrame({1000, 50, 500, 500}, {900, 700}, area), QRectF(700, 50, 900, 700))
        << "moved left, not past the right edge";
    EXPECT_EQ(refittedFrame({-50, -20, 500, 500}, {900, 700}, area), QRectF(-50, -20, 900, 700))
        << "only the bottom and the right edge are held";
    EXPECT_EQ(initialFrame({-50, -20, 500, 500}, {900, 700}, area), QRectF(0, 0, 900, 700));
    EXPECT_EQ(initialFrame({1200, 900, 500, 500}, {900, 700}, area), QRectF(700, 300, 900, 700));
    EXPECT_EQ(initialFrame({1200, 900, 500, 500}, {900, 700}, std::nullopt),
              QRectF(1200, 900, 900, 700));
}

class ContourControllerTest : public ::testing::Test {
  protected:
    ContourControllerTest() : controller_(QSizeF(760, 560)) {
        // On the first screen, whichever the platform lists first.
        for (QScreen* s : QGuiApplication::screens())
            if (s->geometry().topLeft() == QPoint(0, 0))
                window_.setScreen(s);
        view_ = new WindowContourView(&controller_, &window_);
    }
    void configure(double aspect) {
        view_->setParameters({aspect, 36, 193}, [this](const std::filesystem::path& file) {
            dropped_.push_back(file);
        });
        QCoreApplication::processEvents();
    }
    void show() {
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
        window_.move(100, 100);
    }

    WindowContourController controller_;
    QWidget window_;
    WindowContourView* view_;
    std::vector<std::filesystem::path> dropped_;
};

TEST_F(ContourControllerTest, TheFirstSizeIs760WideAndANewAspectRefitsTheWindow) {
    configure(16.0 / 9.0);
    EXPECT_EQ(window_.size(), QSize(760, 600)) << "set before the window appears";
    EXPECT_EQ(window_.minimumSize(), QSize(760, 600));
    show();

    // The offscreen platform frames a window with 2 pixels on every side.
    ASSERT_EQ(window_.frameGeometry(), window_.geometry().marginsAdded(QMargins(2, 2, 2, 2)));
    configure(1.0);
    EXPECT_EQ(window_.frameGeometry(), QRect(100, 79, 764, 921)) << "moved up to stay on screen";

    window_.move(100, 50);
    // A portrait video: 760 wide, the height cut to the screen.
    configure(9.0 / 16.0);
    EXPECT_EQ(window_.frameGeometry(), QRect(100, 0, 764, 1000));
    EXPECT_EQ(window_.maximumSize(), QSize(1596, 996));

    // Back to wide at the current width.
    configure(16.0 / 9.0);
    EXPECT_EQ(window_.frameGeometry(), QRect(100, 0, 764, 604));

    QSignalSpy refits(&controller_, &WindowContourController::refitted);
    configure(16.0 / 9.0 + 0.00005);
    EXPECT_EQ(refits.count(), 0) << "within the threshold";
}

TEST_F(ContourControllerTest, AFirstWindowTallerThanTheScreenIsCutOnceItsFrameIsKnown) {
    // Sized before it is framed, the window fills the screen's height.
    configure(9.0 / 16.0);
    EXPECT_EQ(window_.size(), QSize(760, 1000));
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    // An X11 window manager frames the window after it is shown, so the
    // limits set at the show are still the frameless ones: the frame then
    // stands out below the screen until the first size is taken again.
    window_.setMinimumSize(760, 1000);
    const QRect room = window_.screen()->availableGeometry();
    ASSERT_FALSE(room.contains(window_.frameGeometry()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return room.contains(window_.frameGeometry()); }, 3000))
        << window_.frameGeometry().height() << " tall on " << room.height();
    EXPECT_EQ(window_.size(), QSize(760, 996));
    EXPECT_EQ(window_.minimumSize(), QSize(760, 996)) << "the minimum gives way with it";
}

TEST_F(ContourControllerTest, AResizeOffTheShapeIsRefittedOnceItSettles) {
    configure(16.0 / 9.0);
    show();
    // As a window manager that ignores the aspect would leave it.
    window_.resize(1000, 600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_.size() == QSize(1000, 735); }, 5000))
        << window_.width() << " x " << window_.height();
    // Dragging only the bottom edge widens the window: 36 + 16/9 * (835 - 193).
    window_.resize(1000, 835);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_.size() == QSize(1177, 835); }, 5000))
        << window_.width() << " x " << window_.height();
    EXPECT_EQ(window_.frameGeometry().topLeft(), QPoint(100, 100));
}

TEST_F(ContourControllerTest, ADropHandsOverOneLocalFile) {
    configure(16.0 / 9.0);
    show();
    auto drop = [&](QMimeData& data) {
        const QPoint at(50, 50);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window_, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&window_, &dropEvent);
        return dropEvent.isAccepted();
    };
    QMimeData two;
    two.setUrls({QUrl("https://example.com/a.mp4"), QUrl::fromLocalFile("/videos/one.mov"),
                 QUrl::fromLocalFile("/videos/two.mov")});
    EXPECT_TRUE(drop(two));
    QMimeData web;
    web.setUrls({QUrl("https://example.com/a.mp4")});
    EXPECT_FALSE(drop(web));
    EXPECT_EQ(dropped_, std::vector<std::filesystem::path>{"/videos/one.mov"});
}

TEST(DroppedFile, TakesFileUrlsAndPlainTextPathsAsBytes) {
    auto local = [](const char* url) { return localFileOf(QUrl::fromEncoded(url)); };
    EXPECT_EQ(local("file:///tmp/caf%C3%A9%20x.mp4"),
              std::filesystem::path("/tmp/caf\xc3\xa9 x.mp4"));
    EXPECT_EQ(local("file:///tmp/%FF.mp4"), std::filesystem::path("/tmp/\xff.mp4"))
        << "a name that is not UTF-8 keeps its bytes";
    EXPECT_EQ(local("file://localhost/a.mp4"), std::filesystem::path("/a.mp4"));
    EXPECT_FALSE(local("file://server/a.mp4"));
    EXPECT_FALSE(local("https://example.com/a.mp4"));

    QMimeData text;
    text.setText("/home/me/clip.mp4\n/home/me/other.mp4");
    EXPECT_EQ(droppedFile(text), std::filesystem::path("/home/me/clip.mp4"));
    text.setText("file:///home/me/my%20clip.mp4");
    EXPECT_EQ(droppedFile(text), std::filesystem::path("/home/me/my clip.mp4"));
    for (const char* refused : {"clip.mp4", "", "https://example.com/clip.mp4"}) {
        text.setText(refused);
        EXPECT_FALSE(droppedFile(text)) << refused;
    }
}

} // namespace
} // namespace kavlo
