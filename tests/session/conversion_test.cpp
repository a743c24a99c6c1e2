#include "session/ffmpeg_process.h"
#include "session/playable_source.h"

#include "core/error_codes.h"
#include "fake_converter.h"
#include "support/broken_media.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <signal.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::FakeConverter;
using test::shellQuoted;

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments)
        text += (text.empty() ? "" : " ") + argument;
    return text;
}

class Conversion : public ::testing::Test {
  protected:
    Conversion() { std::ofstream(garbage_) << "not a video at all"; }

    FakeConverter converter(const std::string& copy, const std::string& encode) {
        return FakeConverter(dir_.path(), copy, encode);
    }
    std::string writesReadable() const { return "cp " + shellQuoted(readable_) + " \"$out\""; }

    PlayableSource resolveWith(const fs::path& file, std::vector<fs::path> candidates,
                               std::stop_token stop = {},
                               std::function<void(double)> progress = {}) {
        return resolvePlayableSource(
            file, [this](const QString& text) { statuses_.push_back(text.toStdString()); }, stop,
            {.ffmpegCandidates = std::move(candidates),
             .tempDir = dir_.path(),
             .progress = std::move(progress)});
    }
    PlayableSource resolve(const fs::path& file, const FakeConverter& fake,
                           std::stop_token stop = {}) {
        return resolveWith(file, {fake.program()}, stop);
    }

    // Converted copies (and links) left in the temporary directory.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names = test::fileNamesIn(dir_.path());
        std::erase_if(names, [](const std::string& name) { return !name.starts_with("kavlo-"); });
        return names;
    }

    test::TempDir dir_;
    const fs::path readable_ = test::sharedClip("readable.mp4", {.frames = 10});
    const fs::path garbage_ = dir_ / "garbage.bin";
    std::vector<std::string> statuses_;
};

TEST_F(Conversion, TheContainerCopyServesOrIsDeletedForTheReencode) {
    const std::string copyArguments = " -map 0:v:0 -an -c:v copy -movflags +faststart ";
    const std::string encodeArguments = " -map 0:v:0 -an -c:v libx264 -preset veryfast -crf 14 "
                                        "-pix_fmt yuv420p -movflags +faststart ";
    // The copy serves, writes something unreadable, or fails after writing.
    for (const std::string& copy : {writesReadable(), std::string("echo junk > \"$out\""),
                                    std::string("echo junk > \"$out\"; exit 1")}) {
        SCOPED_TRACE(copy);
        statuses_.clear();
        const FakeConverter fake = converter(copy, writesReadable());
        const PlayableSource source = resolve(garbage_, fake);
        ASSERT_TRUE(source.transcodedURL);
        EXPECT_EQ(source.playableURL, *source.transcodedURL);
        EXPECT_TRUE(hasDecodableVideo(source.playableURL));
        const std::string name = source.playableURL.filename().string();
        EXPECT_TRUE(name.starts_with("kavlo-source-") && name.ends_with(".mp4")) << name;
        EXPECT_EQ(leftovers(), std::vector<std::string>{name}) << "a copy's file is left";

        const auto runs = fake.runs();
        ASSERT_EQ(runs.size(), copy == writesReadable() ? 1u : 2u);
        const std::string head = "-y -hide_banner -loglevel error -i " + garbage_.string();
        EXPECT_EQ(joined(runs[0]), head + copyArguments + runs[0].back());
        std::vector<std::string> expected = {"Converting unsupported container..."};
        if (runs.size() == 2) {
            EXPECT_EQ(joined(runs[1]), head + encodeArguments + source.playableURL.string());
            expected.push_back("Converting unsupported codec...");
        }
        EXPECT_EQ(statuses_, expected);
        fs::remove(source.playableURL);
    }
}

TEST_F(Conversion, FailuresReportTheReencodeOnlyAndLeaveNoFile) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // One line between blank lines; the copy's own failure is not heard of.
        {"echo 'copy trouble' >&2; exit 7",
         "echo partial > \"$out\"; printf '\\n\\n  Unknown encoder libx264  \\n\\n' >&2; exit 1",
         "Converter 1 Unknown encoder libx264"},
        // What ffmpeg says about a text file named .mp4, and a nested context:
        // neither the components' addresses nor the full path reach the user.
        {"exit 1",
         "printf '[mov,mp4,m4a,3gp,3g2,mj2 @ 0x555ca5c9da80] moov atom not found\\n"
         "%s: Invalid data found when processing input\\n"
         "[in#0 @ 0x5a] [h264 @ 0x5b]  no frame!\\n' \"$in\" >&2; exit 1",
         "Converter 1 moov atom not found\ngarbage.bin: Invalid data found when processing input\n"
         "no frame!"},
        {"exit 1", "exit 3", "Converter 3 ffmpeg stopped with exit status 3."},
        // A crash is told by its signal, never as an exit status or a code of Kavlo's.
        {"exit 1", "echo 'frame=  12' >&2; kill -SEGV $$",
         "Converter -11 ffmpeg was killed by signal 11."},
        // Signal 12 once reached analytics as a missing video track.
        {"exit 1", "kill -USR2 $$", "Converter -12 ffmpeg was killed by signal 12."},
        {"exit 1", "echo junk > \"$out\"", "Kavlo 11 Converted file could not be opened."},
    };
    for (const auto& [copy, encode, error] : cases) {
        SCOPED_TRACE(encode);
        EXPECT_EQ(test::errorText([&] { resolve(garbage_, converter(copy, encode)); }), error);
        EXPECT_TRUE(leftovers().empty()) << "a failed run's file is left";
    }

    const fs::path unstartable = dir_ / "unstartable";
    std::ofstream(unstartable) << "#!/nonexistent/interpreter\n";
    fs::permissions(unstartable, fs::perms::owner_all);
    const std::string error = test::errorText([&] {
        resolvePlayableSource(
            garbage_, {}, {},
            {.ffmpegCandidates = {unstartable}, .tempDir = dir_.path(), .progress = {}});
    });
    EXPECT_TRUE(error.starts_with("Converter 256 ffmpeg could not be started: ")) << error;
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Conversion, ReadableFilesAndWhatNoConversionMendsNeverStartTheConverter) {
    const FakeConverter fake = converter(writesReadable(), writesReadable());
    const PlayableSource source = resolve(readable_, fake);
    EXPECT_EQ(source.playableURL, readable_);
    EXPECT_FALSE(source.transcodedURL);
    const fs::path huge = test::makeMotionJpeg(dir_ / "huge.mov", "64x48");
    test::claimPictureSize(huge, 65535, 65535, true, true);
    EXPECT_TRUE(test::errorText([&] { resolve(huge, fake); }).starts_with("Kavlo 29 "));
    // Not "not readable by Kavlo", as if installing ffmpeg could help.
    EXPECT_EQ(test::errorText([&] { resolve(dir_ / "gone.mp4", fake); }),
              "FFmpeg -2 The file was moved, renamed or deleted.");
    EXPECT_TRUE(fake.runs().empty());
    EXPECT_TRUE(statuses_.empty());
}

TEST_F(Conversion, TheReencodeReportsProgressAndAThrowingCheckLeavesNoFile) {
    // Sound only: the media layer reads its 2 s but finds no picture.
    const fs::path sound = dir_ / "sound.m4a";
    test::generateMedia({"-f", "lavfi", "-i", "sine=d=2", "-c:a", "aac", sound.string()});
    const FakeConverter fake = converter(
        "exit 1", "printf 'out_time_us=500000\nprogress=continue\nout_time_us=1000000\n'; " +
                      writesReadable());
    std::vector<double> fractions;
    const PlayableSource source = resolveWith(
        sound, {fake.program()}, {}, [&](double fraction) { fractions.push_back(fraction); });
    EXPECT_EQ(fractions, (std::vector<double>{0.25, 0.5}));
    const std::vector<std::string> encode = fake.runs().back();
    EXPECT_EQ(std::vector(encode.end() - 4, encode.end() - 1),
              (std::vector<std::string>{"-nostats", "-progress", "pipe:1"}));

    // A converted picture too large for the check: neither attempt's file stays.
    const fs::path huge = test::makeMotionJpeg(dir_ / "huge.mov", "64x48");
    test::claimPictureSize(huge, 65535, 65535, true, true);
    const std::string writesHuge = "cp " + shellQuoted(huge) + " \"$out\"";
    const FakeConverter tooLarge = converter(writesHuge, writesHuge);
    EXPECT_TRUE(test::errorText([&] { resolve(garbage_, tooLarge); }).starts_with("Kavlo 29 "));
    EXPECT_EQ(leftovers(), std::vector<std::string>{source.playableURL.filename()});
}

TEST_F(Conversion, TheFirstExecutableCandidateRunsAndWithoutOneLoadsFailAtOnce) {
    const fs::path notExecutable = dir_ / "ffmpeg";
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    const fs::path executable = dir_ / "other";
    fs::copy_file(notExecutable, executable);
    fs::permissions(executable, fs::perms::owner_all);
    EXPECT_EQ(locateFFmpeg({dir_ / "missing", dir_.path(), notExecutable, executable}), executable);

    EXPECT_EQ(test::errorText([&] {
                  resolveWith(garbage_, {dir_ / "missing", notExecutable, dir_.path()});
              }),
              "Kavlo 10 This format is not readable by Kavlo, and ffmpeg was not found for "
              "conversion.");
    EXPECT_TRUE(statuses_.empty());
}

TEST_F(Conversion, ChattyConverterFinishesAndKeepsTheEndOfItsOutput) {
    // Far more than a pipe holds: a reader that waits for the exit hangs.
    const std::string chatter = "yes 'frame= 1 fps=0.0 q=0.0 size= 0kB' | head -c 6000000 >&2; ";
    EXPECT_TRUE(resolve(garbage_, converter("exit 1", chatter + writesReadable())).transcodedURL);

    const FakeConverter failing = converter("exit 1", chatter + "echo 'Conversion failed!' >&2; "
                                                                "exit 69");
    const std::string error = test::errorText([&] { resolve(garbage_, failing); });
    EXPECT_TRUE(error.starts_with("Converter 69 frame=")) << "starts mid-line: " << error;
    EXPECT_LE(error.size(), std::size_t(kKeptErrorOutputBytes) + 13);
    EXPECT_TRUE(error.ends_with("Conversion failed!"));
}

TEST_F(Conversion, StoppingKillsTheConverterAndDeletesItsFile) {
    const fs::path pidFile = dir_ / "pid";
    const FakeConverter fake = converter(
        "echo $$ > " + shellQuoted(pidFile) + "; echo partial > \"$out\"; exec sleep 30", "exit 1");
    std::stop_source stop;
    std::jthread stopper([&] {
        while (!fs::exists(pidFile) || fs::file_size(pidFile) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.request_stop();
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_THROW(resolve(garbage_, fake, stop.get_token()), Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    EXPECT_TRUE(leftovers().empty());
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_NE(::kill(pid, 0), 0) << "the converter still runs";
}

TEST_F(Conversion, NameThatIsNotUtf8ReachesTheConverter) {
    const fs::path input = dir_ / "clip-\xff\xfe.weird";
    fs::copy_file(garbage_, input);
    // Succeeds only when what it was given to read is the opened file.
    const FakeConverter fake =
        converter("cmp -s \"$in\" " + shellQuoted(input) + " && " + writesReadable(), "exit 1");
    const PlayableSource source = resolve(input, fake);
    EXPECT_TRUE(source.transcodedURL);
    EXPECT_EQ(leftovers(), std::vector<std::string>{source.playableURL.filename()})
        << "the link to the input is left";
}

} // namespace
} // namespace kavlo
