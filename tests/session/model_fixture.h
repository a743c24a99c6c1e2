// A Model on fake players and hand-moved timers, its events recorded, its
// temporary files in a directory of the test's own; generated clips.
#pragma once

#include "fake_player.h"
#include "manual_timers.h"
#include "session/file_panels.h"
#include "session/model.h"
#include "support/test_media.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
    return os << text.toStdString();
}

namespace kavlo::test {

// 3 s of 160x96 at 30 fps without sound.
inline const fs::path& silentClip() {
    return sharedClip("silent-3s.mp4", {.frames = 90});
}
// 4 s of 640x360 at 30 fps: renders long enough to be caught running.
inline const fs::path& largerClip() {
    return sharedClip("larger-4s.mp4", {.width = 640, .height = 360, .frames = 120});
}
// 2 s of 64x36: another video, quick to make and to render.
inline const fs::path& otherClip() {
    return sharedClip("other-2s.mp4", {.width = 64, .height = 36, .frames = 60});
}

// Panels that answer at once with what the test set, and remember what the
// save panel was to propose.
struct FakePanels : FilePanels {
    std::optional<fs::path> openAnswer, saveAnswer;
    std::vector<QString> proposedNames;
    std::vector<std::optional<fs::path>> proposedFolders;

    std::optional<fs::path> chooseVideoFile() override { return openAnswer; }
    std::optional<fs::path> chooseSaveLocation(const QString& name,
                                               const std::optional<fs::path>& folder,
                                               ExportFormat) override {
        proposedNames.push_back(name);
        proposedFolders.push_back(folder);
        return saveAnswer;
    }
};

class ModelTest : public ::testing::Test {
  protected:
    using ms = std::chrono::milliseconds;

    void SetUp() override { create(); }

    void create() {
        model.reset();
        events.clear();
        statuses.clear();
        // The environment owns what player, scrub and timers point at.
        model = std::make_unique<Model>(
            ModelEnvironment{.player = std::unique_ptr<Player>(player = new FakePlayer),
                             .scrubPlayer = std::unique_ptr<Player>(scrub = new FakePlayer),
                             .panels = activePanels,
                             .track = [this](const UsageEvent& event) { events.push_back(event); },
                             .exampleVideo = exampleVideo,
                             .ffmpegCandidates = ffmpegCandidates,
                             .tempDir = temp.path(),
                             .timers = std::unique_ptr<SessionTimers>(timers = new ManualTimers)});
        QObject::connect(model.get(), &Model::statusChanged,
                         [this, m = model.get()] { statuses.push_back(m->status()); });
    }

    // Generous: the suite runs many tests at once on two busy cores.
    static bool waitFor(const std::function<bool()>& done, int milliseconds = 60000) {
        return QTest::qWaitFor(done, milliseconds);
    }

    void loadAndSettle(const fs::path& file) {
        model->loadVideo(file, VideoLoadSource::picker);
        ASSERT_TRUE(waitFor([&] { return model->url() && !model->busy(); }))
            << model->status().toStdString();
    }
    void settle() {
        ASSERT_TRUE(waitFor([&] { return !model->busy(); })) << model->status().toStdString();
    }

    // The preview starts playing and the next reveal poll sees it.
    void reveal() {
        player->landSeek();
        player->advance(0.05);
        player->deliver();
        timers->advance(ms(16));
    }
    // The scrub player's pending seek lands and reports back.
    void landScrub() {
        scrub->landSeek();
        scrub->deliver();
    }

    int count(const QString& name) const { return int(std::ranges::count(eventNames(), name)); }
    std::vector<QString> eventNames() const {
        std::vector<QString> names;
        for (const UsageEvent& e : events)
            names.push_back(e.name);
        return names;
    }
    // The files in the session's temporary directory whose names start so.
    std::vector<fs::path> tempFiles(const std::string& prefix) const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(temp.path()))
            if (entry.path().filename().string().starts_with(prefix))
                files.push_back(entry.path());
        return files;
    }
    std::vector<fs::path> previewFiles() const { return tempFiles("kavlo-preview-"); }

    TempDir temp;
    FakePanels panels;
    FilePanels* activePanels = &panels; // what create() hands the Model
    fs::path exampleVideo;
    std::vector<fs::path> ffmpegCandidates;
    FakePlayer *player = nullptr, *scrub = nullptr;
    ManualTimers* timers = nullptr;
    std::vector<UsageEvent> events;
    QStringList statuses; // every status the Model showed, in order
    std::unique_ptr<Model> model;
};

} // namespace kavlo::test
