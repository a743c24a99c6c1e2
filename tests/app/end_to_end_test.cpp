// The whole application in one process: the real session, renderer,
// players and widgets, offscreen, with fake open and save panels and a
// local server as the web API. A user's session from the example video to
// an MP4 and a GIF, checked in the files written and in the events sent.
#include "analytics/app_analytics.h"
#include "app/content_view.h"
#include "app/kavlo_app.h"
#include "app/update_checker.h"
#include "app/welcome_overlay.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "session/file_panels.h"
#include "session/model.h"
#include "support/test_gif.h"
#include "support/test_http_server.h"
#include "support/test_media.h"
#include "timeline/timeline_bar.h"
#include "timeline/timeline_interaction_widget.h"

#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono_literals;
constexpr int kLongWaitMs = 120'000;

struct FakePanels : FilePanels {
    explicit FakePanels(fs::path directory) : directory(std::move(directory)) {}
    std::optional<fs::path> chooseVideoFile() override { return std::nullopt; }
    std::optional<fs::path> chooseSaveLocation(const QString&, const std::optional<fs::path>&,
                                               ExportFormat format) override {
        return directory / (format == ExportFormat::gif ? "e2e-output.gif" : "e2e-output.mp4");
    }
    fs::path directory;
};

class EndToEndTest : public ::testing::Test {
  protected:
    EndToEndTest() {
        server_.respond = [](const test::ReceivedRequest& request) {
            if (request.path.endsWith("/api/mac/update"))
                return test::HttpAnswer{.status = 200,
                                        .body = R"({"version":"0.1.0","build":1,"downloadUrl":"u",)"
                                                R"("releaseNotes":""})"};
            return test::HttpAnswer{.status = 204};
        };
        AnalyticsOptions options;
        options.queuePath = dir_.filePath("analytics-events.json");
        options.bundleInfo = {{"KavloApiBaseURL", server_.baseUrl().toString()},
                              {"CFBundleShortVersionString", "0.1.0"},
                              {"CFBundleVersion", "1"}};
        const QString settings = dir_.filePath("settings.ini");
        options.makeSettings = [settings] {
            return std::make_unique<QSettings>(settings, QSettings::IniFormat);
        };
        // The first retry comes after a busy machine's time-out.
        options.timing = {.debounce = 100ms, .batchPause = 20ms, .firstRetry = 200ms};
        analytics_ = std::make_unique<AppAnalytics>(options);

        const fs::path temp = dir_.path().toStdString();
        services_.track = [this](const UsageEvent& event) { analytics_->track(event); };
        services_.makeModel = [this, temp](FilePanels* panels) {
            ModelEnvironment environment;
            environment.player = std::make_unique<PreviewPlayer>(PreviewPlayer::Options{false});
            environment.scrubPlayer = std::make_unique<ScrubPlayer>();
            environment.panels = panels;
            environment.track = services_.track;
            environment.exampleVideo = KAVLO_EXAMPLE;
            environment.tempDir = temp;
            return std::make_unique<Model>(std::move(environment));
        };
        services_.makePanels = [temp](QWidget*) { return std::make_unique<FakePanels>(temp); };
        services_.makeUpdateChecker = [this] {
            UpdateEnvironment environment;
            environment.endpoint = server_.baseUrl().resolved(QUrl("/api/mac/update"));
            environment.track = services_.track;
            return std::make_unique<UpdateChecker>(environment);
        };
        services_.startAnalyticsSession = [this] { analytics_->startSession(); };
        services_.openUrl = [](const QUrl&) { return true; };
        // Closing a window while it exports is declined.
        services_.confirmClose = [this](QWidget*, const Model& session) {
            closeQuestions_.append(session.runningExports());
            return false;
        };
    }

    static QString nameOf(const QJsonObject& event) { return event.value("name").toString(); }

    QTemporaryDir dir_;
    test::TestHttpServer server_;
    std::unique_ptr<AppAnalytics> analytics_;
    WindowServices services_;
    QList<int> closeQuestions_;
};

// The playhead rose, fell and rose again: the ping-pong preview loops.
bool loopedOnce(const std::vector<double>& p) {
    int turns = 0, direction = 0;
    for (size_t i = 1; i < p.size(); ++i)
        if (const int d = (p[i] > p[i - 1]) - (p[i] < p[i - 1]); d != 0 && d != direction) {
            turns += direction != 0;
            direction = d;
        }
    return turns >= 2;
}

TEST_F(EndToEndTest, FromTheExampleToAnMP4AndAGIF) {
    KavloApp app(services_);
    MainWindow* window = app.newWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    Model& model = window->model();
    ContentView& content = window->content();

    std::vector<double> playheads;
    QObject::connect(&model, &Model::playheadChanged,
                     [&] { playheads.push_back(model.playhead()); });
    QTest::mouseClick(content.welcome()->exampleButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.url() && !model.busy(); }, kLongWaitMs))
        << model.status().toStdString();
    EXPECT_FALSE(content.welcome()->isVisible());
    playheads.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loopedOnce(playheads); }, kLongWaitMs));

    const double endBefore = model.end();
    TimelineBar* bar = content.timeline();
    auto* layer = bar->findChild<TimelineInteractionWidget*>();
    ASSERT_TRUE(layer);
    const TimelineGeometry geometry = bar->layoutGeometry();
    QPoint at = layer->mapFrom(
        bar, QPointF(geometry.endHandleCenter(model.end()), geometry.stripHeight / 2).toPoint());
    QTest::mousePress(layer, Qt::LeftButton, Qt::NoModifier, at);
    for (int step = 0; step < 6; ++step)
        QTest::mouseMove(layer, at += QPoint(10, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.scrubOverlayVisible(); }, kLongWaitMs))
        << "the scrub player shows the dragged frame";
    QTest::mouseRelease(layer, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_GT(model.end(), endBefore + 0.1);
    const double start = model.start(), end = model.end();

    // The new preview loops with the playhead inside the new selection.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.busy() && !model.scrubOverlayVisible(); },
                                kLongWaitMs));
    playheads.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loopedOnce(playheads); }, kLongWaitMs));
    for (double playhead : playheads)
        EXPECT_TRUE(playhead >= start - 1e-9 && playhead <= end + 1e-9) << playhead;

    for (const char* status : {"Marked start frame ", "Marked end frame ", "Restored previous"}) {
        QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier);
        EXPECT_TRUE(model.status().startsWith(status)) << model.status().toStdString();
    }
    EXPECT_EQ(std::pair(model.start(), model.end()), std::pair(start, end));

    QAction* twice = content.speedMenu()->menu()->actions().value(5);
    ASSERT_TRUE(twice && twice->text() == "2x speed");
    twice->trigger();
    EXPECT_EQ(model.exportSpeed(), 2.0);
    EXPECT_EQ(content.speedMenu()->text(), "2x speed");

    auto whenFree = [&] {
        return QTest::qWaitFor(
            [&] { return !model.busy() && content.exportGIFButton()->isEnabled(); }, kLongWaitMs);
    };
    ASSERT_TRUE(whenFree());
    QAction* threeLoops = content.exportMP4Menu()->menu()->actions().value(2);
    ASSERT_TRUE(threeLoops && threeLoops->text() == "3 loops");
    threeLoops->trigger();
    ASSERT_EQ(model.runningExports(), 1);
    window->close();
    EXPECT_TRUE(window->isVisible()) << "the user declined to stop the export";
    EXPECT_EQ(closeQuestions_, QList<int>{1});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.status().startsWith("Saved e2e-output.mp4 · "); }, kLongWaitMs))
        << model.status().toStdString();
    ASSERT_TRUE(whenFree());
    QTest::mouseClick(content.exportGIFButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.status().startsWith("Saved e2e-output.gif · "); }, kLongWaitMs))
        << model.status().toStdString();

    // Three ping-pong cycles in the MP4: a cycle of n frames read shows
    // 2 * (n - 1 - 2 * 2) of them (two trimmed at each edge). The GIF holds
    // one cycle, lasting as long at twice the speed.
    const fs::path directory = dir_.path().toStdString();
    const size_t mp4Frames = test::decodeVideo(directory / "e2e-output.mp4").frames.size();
    ASSERT_EQ(mp4Frames % 3, 0u) << mp4Frames;
    const double cycle = double(mp4Frames) / 3, framesRead = (end - start) * model.fps();
    EXPECT_NEAR(cycle, 2 * (framesRead - 5), 2);
    const test::GifStructure gif = test::readGifStructure(directory / "e2e-output.gif");
    EXPECT_EQ(gif.loopCount, 0);
    EXPECT_NEAR(gif.totalDelay(), 100 * cycle / (model.fps() * 2.0), 3);

    // The events arrived in the order of the user's work, without a path or
    // a file name anywhere.
    const QStringList expected = {
        "mac_app_session_started",      "mac_app_video_load_started", "mac_app_preview_started",
        "mac_app_video_load_succeeded", "mac_app_preview_succeeded",  "mac_app_trim_changed",
        "mac_app_speed_changed",        "mac_app_export_selected",    "mac_app_export_started",
        "mac_app_export_succeeded",     "mac_app_export_selected",    "mac_app_export_started",
        "mac_app_export_succeeded"};
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QList<QJsonObject> events = test::uploadedEvents(server_.requests);
            return std::count_if(events.begin(), events.end(), [](auto& event) {
                       return nameOf(event) == "mac_app_export_succeeded";
                   }) >= 2;
        },
        kLongWaitMs));
    // Properties the user's choices decide.
    const QMap<QString, QPair<QString, QString>> chosen = {
        {"mac_app_video_load_started", {"source", "example"}},
        {"mac_app_trim_changed", {"interaction", "end_handle"}},
        {"mac_app_speed_changed", {"speed", "2.0"}},
        {"mac_app_export_started", {"speed", "2.0"}},
    };
    const QList<QJsonObject> events = test::uploadedEvents(server_.requests);
    QStringList exportLoops;
    qsizetype next = 0;
    for (const QJsonObject& event : events) {
        if (next == expected.size() || nameOf(event) != expected[next])
            continue;
        const QJsonObject properties = event.value("properties").toObject();
        if (chosen.contains(nameOf(event))) {
            const auto [key, value] = chosen.value(nameOf(event));
            EXPECT_EQ(properties.value(key).toString(), value) << nameOf(event).toStdString();
        }
        if (nameOf(event) == "mac_app_export_succeeded")
            exportLoops.append(properties.value("format").toString() + " " +
                               properties.value("loops").toString());
        ++next;
    }
    EXPECT_EQ(next, expected.size())
        << "missing or out of order: " << expected.value(next).toStdString();
    EXPECT_EQ(exportLoops, QStringList({"mp4 3", "gif 1"}));
    for (const test::ReceivedRequest& request : server_.requests)
        for (const QByteArray& forbidden :
             {QByteArray("e2e-output"), QByteArray("example.mp4"), dir_.path().toUtf8()})
            EXPECT_FALSE(request.body.contains(forbidden)) << forbidden.toStdString();
    for (const QJsonObject& event : events)
        for (const QJsonValue& value : event.value("properties").toObject())
            EXPECT_FALSE(value.toString().contains('/')) << nameOf(event).toStdString();
}

} // namespace
} // namespace kavlo
