// The log file: rotation at its cap with writers on many threads, and a
// reopened file that carries on.
#include "app/app_log.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
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
    for (const std::vector<std::string>& file : {linesOf(older), lines}) {
        for (const std::string& line : file) {
            EXPECT_TRUE(std::regex_match(line, whole)) << "torn line: " << line;
            EXPECT_TRUE(kept.insert(line).second) << "written twice: " << line;
        }
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

} // namespace
} // namespace kavlo
