// The Model on the real players and timers, against real rendered previews.
#include "model_fixture.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"

namespace kavlo::test {
namespace {

TEST(ModelPlayback, AfterATrimReleaseTheNewPreviewLoopsWithThePlayheadInsideTheSelection) {
    TempDir temp;
    std::vector<UsageEvent> events;
    ModelEnvironment environment;
    environment.player = std::make_unique<PreviewPlayer>(PreviewPlayer::Options{.sound = false});
    environment.scrubPlayer = std::make_unique<ScrubPlayer>();
    environment.tempDir = temp.path();
    environment.track = [&](const UsageEvent& event) { events.push_back(event); };
    Model model(std::move(environment));
    auto idle = [&] { return model.url() && !model.busy() && !model.scrubOverlayVisible(); };

    model.loadVideo(silentClip(), VideoLoadSource::example);
    ASSERT_TRUE(QTest::qWaitFor(idle, 60000)) << model.status().toStdString();
    const auto firstPreview = model.preparedPreview().file;

    model.trim(TrimHandle::end, 1.8, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.scrubOverlayVisible(); }, 10000));
    model.trim(TrimHandle::end, 2.0, true);
    model.trim(TrimHandle::start, 1.5, true); // the other handle, same drag
    model.trim(TrimHandle::start, 1.5, false);
    ASSERT_TRUE(QTest::qWaitFor(idle, 60000)) << model.status().toStdString();
    ASSERT_NE(model.preparedPreview().file, firstPreview);
    EXPECT_EQ(model.preparedPreview().trimStart, 1.5);

    // Watch two loops of the half-second selection (one second each way and back).
    std::vector<double> playheads;
    QObject::connect(&model, &Model::playheadChanged,
                     [&] { playheads.push_back(model.playhead()); });
    QTest::qWait(2200);
    ASSERT_GT(playheads.size(), 20u);
    int forward = 0, backward = 0;
    for (size_t i = 0; i < playheads.size(); ++i) {
        EXPECT_GE(playheads[i], 1.5 - 1e-9);
        EXPECT_LE(playheads[i], 2.0 + 1e-9);
        if (i > 0)
            (playheads[i] > playheads[i - 1] ? forward : backward) += 1;
    }
    EXPECT_GT(forward, 5);
    EXPECT_GT(backward, 5);
    EXPECT_EQ(model.status(), "silent-3s.mp4");
}

} // namespace
} // namespace kavlo::test
