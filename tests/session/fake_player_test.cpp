// The fake player keeps the contract session tests rely on: callbacks wait
// for deliver(), seeks complete once and in order, newer seeks and item
// changes supersede waiting ones.
#include "support/fake_player.h"

#include <gtest/gtest.h>

#include <vector>

namespace kavlo {
namespace {

struct Log {
    std::vector<std::pair<int, bool>> calls;
    Player::SeekCompletion make(int n) {
        return [this, n](bool finished) { calls.emplace_back(n, finished); };
    }
};

TEST(FakePlayer, SeeksCompleteOnceInOrderAndOnlyWhenDelivered) {
    FakePlayer player;
    player.setItem("/tmp/a.mp4");
    Log log;
    player.seek(1.0, 0.01, log.make(1));
    player.seek(2.0, 0.01, log.make(2));
    EXPECT_TRUE(log.calls.empty()) << "a completion ran inside seek()";
    EXPECT_TRUE(player.landSeek());
    EXPECT_FALSE(player.landSeek());
    player.deliver();
    const std::vector<std::pair<int, bool>> expected = {{1, false}, {2, true}};
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(player.currentTimeSeconds(), 2.0);
    ASSERT_EQ(player.seeks().size(), 2u);
    EXPECT_EQ(player.seeks()[1].toleranceSeconds, 0.01);
}

TEST(FakePlayer, ItemChangesAndMissingItemsDoNotFinishSeeks) {
    FakePlayer player;
    Log log;
    player.seek(1.0, 0, log.make(1));
    player.setItem("/tmp/a.mp4", Player::Looping::on);
    player.seek(1.0, 0, log.make(2));
    player.clearItem();
    player.deliver();
    const std::vector<std::pair<int, bool>> expected = {{1, false}, {2, false}};
    EXPECT_EQ(log.calls, expected);
    EXPECT_FALSE(player.hasItem());
    EXPECT_EQ(player.looping(), Player::Looping::off);
}

TEST(FakePlayer, ObserversSeeTimeJumpsAndPlaybackWrappingAtTheLoop) {
    FakePlayer player;
    std::vector<double> times;
    const auto id =
        player.addPeriodicTimeObserver(1.0 / 120, [&](double t) { times.push_back(t); });
    player.setItem("/tmp/a.mp4", Player::Looping::on);
    player.setDurationSeconds(1.0);
    player.advance(0.5); // paused: time stands still
    player.play();
    player.advance(0.75);
    player.advance(0.5);
    player.deliver();
    const std::vector<double> expected = {0.0, 0.0, 0.75, 0.25};
    EXPECT_EQ(times, expected);
    player.removeTimeObserver(id);
    player.advance(0.1);
    player.deliver();
    EXPECT_EQ(times.size(), expected.size());
}

} // namespace
} // namespace kavlo
