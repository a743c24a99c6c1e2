// What opening a file refuses: pictures larger than Kavlo can hold, whatever part
// of the file claims them, and files that would make FFmpeg read others.
#include "media/decoder.h"
#include "media/error.h"
#include "media/ffmpeg.h"
#include "media/input_file.h"
#include "support/broken_media.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <fstream>

#include <sys/resource.h>

namespace kavlo {
namespace {

namespace fs = std::filesystem;
using test::errorText;
using test::TempDir;

class InputLimits : public ::testing::Test {
  protected:
    // A 64x48 clip claiming width x height in its container and/or pictures.
    fs::path claiming(const std::string& name, int width, int height, bool container,
                      bool pictures) const {
        const fs::path path = test::makeMotionJpeg(dir_ / name, "64x48");
        test::claimPictureSize(path, width, height, container, pictures);
        return path;
    }

    TempDir dir_;
};

TEST_F(InputLimits, APictureBeyondEightKIsRefusedWhicheverPartOfTheFileClaimsIt) {
    auto opening = [](const fs::path& file) {
        return errorText([&] { InputFile(file.string()); });
    };
    EXPECT_EQ(opening(claiming("huge.mov", 65535, 65535, true, true)),
              "Kavlo 29 The video's picture (65535x65535 pixels) is larger than Kavlo can handle "
              "(at most 8192x4320 pixels).");
    // A side longer than 16384, and an area a little beyond 8192x4320.
    EXPECT_TRUE(opening(claiming("wide.mov", 20000, 16, true, false)).starts_with("Kavlo 29 "));
    EXPECT_TRUE(opening(claiming("area.mov", 8192, 4328, true, false)).starts_with("Kavlo 29 "));
    EXPECT_EQ(InputFile(claiming("small.mov", 64, 48, true, true)).info().video->codedWidth, 64);

    // A real 9000x4800 picture in a container that says 64x48: probing
    // decodes it and finds out.
    const fs::path lying = test::makeMotionJpeg(dir_ / "lying.mov", "9000x4800", 1);
    test::claimPictureSize(lying, 64, 48, true, false);
    EXPECT_EQ(opening(lying),
              "Kavlo 29 The video's picture (9000x4800 pixels) is larger than Kavlo can handle "
              "(at most 8192x4320 pixels).");

    // A stream of JPEG pictures that grows after its first: the decoder
    // refuses the big one rather than allocating it.
    const fs::path growing = dir_ / "growing.mjpeg";
    std::string stream;
    for (const char* size : {"64x48", "9000x4800"}) {
        const fs::path picture = dir_ / (std::string(size) + ".jpg");
        test::generateMedia({"-f", "lavfi", "-i", std::string("color=c=gray:r=1:s=") + size,
                             "-frames:v", "1", "-c:v", "mjpeg", "-f", "mjpeg", picture.string()});
        stream += test::readFile(picture);
    }
    std::ofstream(growing, std::ios::binary) << stream;
    InputFile file(growing.string());
    ASSERT_TRUE(file.info().video);
    EXPECT_EQ(file.info().video->codedWidth, 64);
    const int index = file.info().video->streamIndex;
    Decoder decoder(file.stream(index), 1);
    av::PacketPtr packet = av::allocPacket();
    av::FramePtr frame = av::allocFrame();
    std::vector<int> widths;
    int failures = 0;
    while (file.readPacket(packet.get(), index)) {
        try {
            decoder.send(packet.get());
            while (decoder.receive(frame.get()))
                widths.push_back(frame->width);
        } catch (const Error& e) {
            EXPECT_EQ(e.domain(), kMediaDomain) << e.what();
            ++failures;
        }
    }
    EXPECT_EQ(widths, std::vector{64});
    EXPECT_EQ(failures + decoder.corruptPackets(), 1);
}

TEST(InputSafety, AHeaderClaimingGigabytesIsRefusedWithoutTakingThem) {
    // 104 bytes of WAV whose INFO list claims an entry of 1.9 GB ("data",
    // then "@ctt" as its size): FFmpeg's demuxer allocates the entry first.
    const unsigned char wav[] = {
        'R', 'I',  'F',  'F',  0x86, 0x1f, 0,    0,    'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ', 0x10, 0,    0,    0,    1,    0,    1,    0,    0x40, 0x1f, 0,    0,    0x80, 0x3e,
        0,   0,    2,    0,    0x10, 0,    'L',  'I',  'S',  'T',  0x1a, 0,    0,    0x7a, 'I',
        'N', 'F',  'O',  'I',  'S',  'F',  'T',  0x0e, 0,    0,    0,    'L',  'a',  'v',  'f',
        '5', '9',  '.',  '2',  '7',  '.',  '1',  '0',  '0',  0,    'd',  'a',  't',  'a',  '@',
        'c', 't',  't',  's',  0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, '0',  '0',  '0',
        ':', 0x54, 0xa5, 0x84, 0x08, 0x2d, 0x65, 0xc6, 0x04, 0x62, 0x5c, 0xf3, 0xc9, 0xf0};
    TempDir dir;
    std::ofstream(dir / "claims.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav), sizeof wav);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_THROW(InputFile((dir / "claims.wav").string()), Error);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 600 * 1024) << "kB more at the peak";
}

TEST(InputSafety, PlaylistsAndReferenceFilesAreNotFollowed) {
    TempDir dir;
    const fs::path clip = test::makeIndexedVideo(dir / "clip.mp4", {.frames = 10});
    // Each names the real clip; none may open it.
    const std::pair<const char*, std::string> disguised[] = {
        {"playlist.mp4",
         "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + clip.string() + "\n#EXT-X-ENDLIST\n"},
        {"concat.mp4", "ffconcat version 1.0\nfile '" + clip.string() + "'\n"},
        {"session.mp4", "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\n"
                        "m=video 9 RTP/AVP 96\na=rtpmap:96 H264/90000\n"},
    };
    for (const auto& [name, text] : disguised) {
        std::ofstream(dir / name) << text;
        EXPECT_EQ(errorText([&] { InputFile(dir / name); }),
                  "FFmpeg -22 The file is damaged or is not a video.")
            << name;
    }
    // An empty file and a plain video still behave as before.
    std::ofstream(dir / "empty.mp4") << "";
    EXPECT_TRUE(errorText([&] { InputFile(dir / "empty.mp4"); }).starts_with("FFmpeg "));
    EXPECT_TRUE(InputFile(clip.string()).info().video);
}

} // namespace
} // namespace kavlo
