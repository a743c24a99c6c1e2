// One instance per user: a later launch hands its file over the local
// socket, exactly as bytes, and a socket left behind by an ended instance
// does not block the next one.
#include "app/single_instance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

namespace kavlo {
namespace {

class SingleInstanceTest : public ::testing::Test {
  protected:
    // Hands `file` over from another thread, as a second process would,
    // while this thread serves.
    bool handOver(const std::filesystem::path& file) {
        auto done =
            std::async(std::launch::async, [&] { return handOverToRunningInstance(file, name_); });
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            10'000));
        return done.get();
    }

    QTemporaryDir dir_;
    QString name_ = dir_.filePath("kavlo.socket");
};

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsFileToTheRunningInstance) {
    EXPECT_FALSE(handOver("/videos/clip.mp4")) << "no instance runs";
    QFile leftover(name_); // by an instance that ended without removing it
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    InstanceServer first(name_);
    ASSERT_TRUE(first.listen());
    InstanceServer second(name_);
    EXPECT_FALSE(second.listen()) << "one instance listens";

    QSignalSpy received(&first, &InstanceServer::fileReceived);
    const std::filesystem::path odd("/videos/caf\xe9 \xff.mov"); // not UTF-8
    EXPECT_TRUE(handOver(odd));
    EXPECT_TRUE(handOver("relative/clip.mp4"));
    ASSERT_EQ(received.count(), 2);
    EXPECT_EQ(received[0][0].value<std::filesystem::path>(), odd);
    EXPECT_EQ(received[1][0].value<std::filesystem::path>(),
              std::filesystem::current_path() / "relative/clip.mp4");
}

} // namespace
} // namespace kavlo
