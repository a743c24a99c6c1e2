// What the program keeps per user: the log file, rotated at its cap; and one
// instance, to which a later launch hands its file over the local socket.
#include "app/app_log.h"
#include "app/single_instance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kavlo {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(AppLog, RotatesAtItsCapIntoOneOlderFileOfWholeLines) {
    QTemporaryDir dir;
    // The folders are made as needed.
    const fs::path path = fs::path(dir.path().toStdString()) / "state" / "Kavlo" / "kavlo.log";
    const fs::path older = path.string() + ".1";
    constexpr std::int64_t cap = 4096;
    constexpr int threads = 4;
    constexpr int linesEach = 300; // about 16 KB in all: several rotations
    {
        LogFile log(path, cap);
        std::vector<std::jthread> writers;
        for (int t = 0; t < threads; ++t) {
            writers.emplace_back([&log, t] {
                for (int n = 0; n < linesEach; ++n)
                    log.write(("thread " + std::to_string(t) + " line " + std::to_string(n) + " " +
                               std::string(20, 'x'))
                                  .c_str());
            });
        }
        for (std::jthread& writer : writers)
            writer.join();
        log.write("the newest line");
    }
    ASSERT_TRUE(fs::exists(older));
    EXPECT_FALSE(fs::exists(path.string() + ".2"));
    EXPECT_LE(std::int64_t(fs::file_size(path)), cap);
    EXPECT_LE(std::int64_t(fs::file_size(older)), cap);
    EXPECT_GT(std::int64_t(fs::file_size(older)), cap - 64) << "rotated before it was full";

    std::vector<std::string> lines = linesOf(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "the newest line");
    lines.pop_back();
    const std::regex whole(R"(thread [0-3] line \d+ x{20})");
    std::set<std::string> kept;
    for (const std::vector<std::string>& file : {linesOf(older), lines})
        for (const std::string& line : file) {
            EXPECT_TRUE(std::regex_match(line, whole)) << "torn line: " << line;
            EXPECT_TRUE(kept.insert(line).second) << "written twice: " << line;
        }

    // A later run appends to what is there, and rotates on the same count.
    const std::vector<std::string> before = linesOf(path);
    {
        LogFile log(path, cap);
        log.write("after reopening");
    }
    std::vector<std::string> expected = before;
    expected.push_back("after reopening");
    const std::vector<std::string> now = linesOf(path);
    if (now.size() == 1)
        EXPECT_EQ(linesOf(older), before) << "rotated: the earlier lines are one file back";
    else
        EXPECT_EQ(now, expected);
}

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
