// The program on a real desktop session, run by scripts/wayland-check.sh (Wayland
// under weston) and scripts/portal-check.sh (the panels through a file-chooser
// portal). Each check skips outside its session; analytics and updates stay off.
#include "app/content_view.h"
#include "app/desktop_portal.h"
#include "app/kavlo_app.h"
#include "app/update_checker.h"
#include "app/window_contour_controller.h"
#include "session/file_paths.h"
#include "session/model.h"
#include "support/test_media.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

namespace kavlo {
namespace {

namespace fs = std::filesystem;

constexpr int kLongWaitMs = 120'000;

WindowServices checkServices(std::optional<fs::path> launch) {
    WindowServices services = applicationServices(std::move(launch));
    services.makeUpdateChecker = [] {
        return std::make_unique<UpdateChecker>(UpdateEnvironment{});
    };
    services.track = [](const UsageEvent&) {};
    services.startAnalyticsSession = [] {};
    services.openUrl = [](const QUrl&) { return true; };
    services.confirmClose = [](QWidget*, const Model&) { return true; };
    return services;
}

// The script's screenshooter, named after what it shows.
void screenshot(const QString& name) {
    const QString command = qEnvironmentVariable("KAVLO_CHECK_SCREENSHOT");
    if (!command.isEmpty())
        QProcess::execute(command, {name});
}

// Within two pixels of the shape at the window's width.
bool onShape(MainWindow& window) {
    const ContourShape& shape = window.contour().shape();
    return std::abs(window.height() - shape.contentHeightForWidth(window.width())) <= 2;
}

TEST(WaylandCheck, NativeWindowKeepsTheVideoShapeTakesADropAndShowsItsPanel) {
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        GTEST_SKIP() << "scripts/wayland-check.sh runs this under weston";
    EXPECT_EQ(qGuiApp->nativeInterface<QNativeInterface::QX11Application>(), nullptr);
    const fs::path example = qEnvironmentVariable("KAVLO_CHECK_EXAMPLE").toStdString();
    test::TempDir dir;
    const fs::path fourThirds = dir / "four-thirds.mp4";
    test::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=30", "-t", "2", "-c:v",
                     "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                     fourThirds.string()});

    KavloApp app(checkServices(example));
    MainWindow* window = app.newWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    Model& model = window->model();
    auto loaded = [&](const fs::path& file) { return model.url() == file && !model.busy(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded(example); }, kLongWaitMs))
        << model.status().toStdString();
    QTest::qWait(1500); // the preview plays
    EXPECT_TRUE(onShape(*window));
    screenshot("preview");

    // A resize that leaves the shape (only wider) is refitted once it rests.
    const int width = window->width();
    window->resize(width + 240, window->height());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->width() > width + 200; }, 5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return onShape(*window); }, WindowContourController::kSettleMs * 10));
    EXPECT_GT(window->width(), width + 200) << "the dragged edge decides";
    QTest::qWait(300);
    screenshot("resized");

    // A 4:3 video dropped on the window opens, and the window takes its
    // (taller) shape.
    QMimeData data;
    data.setUrls({fileUrl(fourThirds)});
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded(fourThirds); }, kLongWaitMs))
        << model.status().toStdString();
    EXPECT_NEAR(window->contour().shape().aspect, 640.0 / 480.0, 0.01);
    ASSERT_TRUE(QTest::qWaitFor([&] { return onShape(*window); }, 5000));
    QTest::qWait(1000);
    screenshot("dropped");

    // The save panel (Qt's own here: no portal) proposes the name; cancelled.
    QString proposed;
    QTimer::singleShot(1500, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        proposed = dialog->selectedFiles().value(0);
        screenshot("save-panel");
        dialog->reject();
    });
    model.exportGIF();
    EXPECT_TRUE(proposed.endsWith("/four-thirds-kavlo.gif")) << proposed.toStdString();
    EXPECT_EQ(model.runningExports(), 0);
}

// The filters the portal was given, as "name: pattern pattern ...".
QStringList filterNames(const QJsonObject& options) {
    QStringList names;
    for (const QJsonValue& filter : options.value("filters").toArray()) {
        QStringList patterns;
        for (const QJsonValue& condition : filter.toArray().at(1).toArray())
            patterns.append(condition.toArray().at(1).toString());
        names.append(filter.toArray().at(0).toString() + ": " + patterns.join(' '));
    }
    return names;
}

TEST(PortalCheck, PanelsGoThroughThePortalAndDocumentPathsOpenAndSave) {
    const QString documents = qEnvironmentVariable("KAVLO_CHECK_DOCUMENTS");
    if (documents.isEmpty())
        GTEST_SKIP() << "scripts/portal-check.sh runs this with a file-chooser portal";
    const fs::path saveFolder = qEnvironmentVariable("KAVLO_CHECK_SAVE_FOLDER").toStdString();

    KavloApp app(checkServices(std::nullopt));
    MainWindow* window = app.newWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    Model& model = window->model();

    model.chooseVideo();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.url() && !model.busy(); }, kLongWaitMs))
        << model.status().toStdString();
    const fs::path opened = *model.url();
    EXPECT_TRUE(opened.string().starts_with(documents.toStdString())) << opened;
    EXPECT_GT(model.duration(), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.thumbnails().isEmpty(); }, kLongWaitMs));

    bool ok = false;
    QObject::connect(&model, &Model::exportFinished,
                     [&](const fs::path&, bool success) { ok = success; });
    model.exportGIF();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.runningExports() == 0; }, kLongWaitMs));
    EXPECT_TRUE(ok) << model.status().toStdString();
    // Written through the document portal into the real folder.
    QFile gif(QString::fromStdString((saveFolder / "example-kavlo.gif").string()));
    ASSERT_TRUE(gif.open(QIODevice::ReadOnly)) << model.status().toStdString();
    EXPECT_EQ(gif.read(6), "GIF89a");
    for (const auto& entry : fs::directory_iterator(saveFolder))
        EXPECT_FALSE(entry.path().filename().string().starts_with("kavlo-partial-"))
            << entry.path();

    QFile file(qEnvironmentVariable("KAVLO_CHECK_PORTAL_LOG"));
    QList<QJsonObject> calls;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty())
                calls.append(QJsonDocument::fromJson(line).object());
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].value("call"), "OpenFile");
    EXPECT_EQ(calls[0].value("title"), "Select Video");
    const QStringList openFilters = filterNames(calls[0].value("options").toObject());
    ASSERT_EQ(openFilters.size(), 1);
    EXPECT_TRUE(openFilters[0].startsWith("Videos: ")) << openFilters[0].toStdString();
    EXPECT_TRUE(openFilters[0].contains(" *.mkv *.MKV ")) << openFilters[0].toStdString();
    EXPECT_EQ(calls[1].value("call"), "SaveFile");
    EXPECT_EQ(calls[1].value("title"), "Export as GIF");
    const QJsonObject save = calls[1].value("options").toObject();
    EXPECT_EQ(filterNames(save), QStringList{"GIF Image: *.gif"});
    EXPECT_EQ(save.value("current_name"), "example-kavlo.gif");
    EXPECT_FALSE(save.value("current_folder").toString().isEmpty());
}

} // namespace
} // namespace kavlo

// As the program starts: the portal is looked for before the application.
int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    const bool portal = kavlo::preferPortalFilePanels();
    QApplication app(argc, argv);
    if (portal)
        qunsetenv("QT_QPA_PLATFORMTHEME");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
