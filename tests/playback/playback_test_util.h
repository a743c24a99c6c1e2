// Reading the index a generated frame carries from a player's picture,
// recording what a view would receive, and generous waits (CI is busy).
#pragma once

#include "player/frame_source.h"
#include "player/player.h"
#include "support/test_media.h"

#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavlo::test {

inline constexpr int kWaitMs = 20000;

// Suites that seek in `source_`: 48 frames at 30 fps in GOPs of 12 with
// B-frames, so seeks need key frames, reordering and skipped frames to come
// out right.
class Gop12SourceTest : public ::testing::Test {
  protected:
    const std::string source_ = sharedClip(
        "gop12-bframes.mp4", {.frames = 48, .keyframeInterval = 12, .preset = "veryfast"});
};

// The index carried by an upright index-coded picture, -1 when unreadable.
// The pictures are grey, so any colour channel stands in for luma.
inline int imageFrameIndex(const VideoImage& image) {
    if (image.isNull())
        return -1;
    std::vector<uint8_t> luma(static_cast<size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* row = image.bits() + static_cast<size_t>(y) * image.stride();
        for (int x = 0; x < image.width(); ++x)
            luma[static_cast<size_t>(y) * image.width() + x] = row[x * 4 + 1];
    }
    return readFrameIndex(luma.data(), image.width(), image.width(), image.height());
}

template <typename Pred> bool waitUntil(Pred pred, int timeoutMs = kWaitMs) {
    return QTest::qWaitFor(pred, timeoutMs);
}

// Seeks `player` to `t` and waits for the completion: whether the seek
// finished, and the index `pictures` showed when it came.
struct SeekOutcome {
    bool finished = false;
    int shown = -2;
};
inline SeekOutcome seekAndWait(Player& player, const FrameSource& pictures, double t) {
    std::optional<SeekOutcome> outcome;
    player.seek(t, 0, [&](bool finished) {
        outcome = SeekOutcome{finished, imageFrameIndex(pictures.currentImage())};
    });
    EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); })) << "seek to " << t;
    return outcome.value_or(SeekOutcome{});
}

// A playback clock the test moves: whether a frame came early or late then
// does not depend on how busy the machine is.
class TestClock {
  public:
    std::function<int64_t()> now() const {
        return [us = nowUs_] { return us->load(); };
    }
    int64_t nowUs() const { return *nowUs_; }
    void advance(int64_t us) { *nowUs_ += us; }

  private:
    std::shared_ptr<std::atomic<int64_t>> nowUs_ = std::make_shared<std::atomic<int64_t>>(0);
};

// Everything a view watching `source` would receive, in order.
class FrameRecorder {
  public:
    struct Seen {
        int index;
        double timeSeconds; // the player's current time when it arrived
        int width, height;
    };

    FrameRecorder(FrameSource& source, const Player& player) {
        QObject::connect(&source, &FrameSource::frameChanged, &context_, [&source, &player, this] {
            const VideoImage image = source.currentImage();
            frames.push_back({imageFrameIndex(image), player.currentTimeSeconds(), image.width(),
                              image.height()});
        });
    }

    std::vector<Seen> frames;

  private:
    QObject context_;
};

// Completion flags in the order they arrived, tagged by the seek's number.
struct CompletionLog {
    std::vector<std::pair<int, bool>> calls;
    Player::SeekCompletion make(int number) {
        return [this, number](bool finished) { calls.emplace_back(number, finished); };
    }
};

} // namespace kavlo::test
