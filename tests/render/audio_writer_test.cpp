// The writers' failures are FFmpeg's own and carry its message, so the user
// reads what went wrong rather than a bare code.
#include "media/encoder.h"
#include "render/audio_writer.h"
#include "support/error_text.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

namespace kavlo {
namespace {

TEST(WriterFailures, CarryFFmpegsMessage) {
    test::TempDir dir;
    // AAC has no 1 kHz sampling rate.
    const std::string refused =
        test::errorText([&] { AacFileWriter(dir / "a.m4a", 1000, 2, 128000); });
    EXPECT_TRUE(refused.starts_with("FFmpeg ")) << refused;
    EXPECT_NE(refused.find("open aac encoder: Invalid argument"), std::string::npos) << refused;

    EncoderSettings settings = aacEncoderSettings(48000, 2, 128000);
    settings.options["no-such-option"] = "1";
    EXPECT_NE(test::errorText([&] { Encoder{settings}; }).find("\"no-such-option\""),
              std::string::npos);
    settings = aacEncoderSettings(48000, 2, 128000);
    settings.codec = "no-such-codec";
    EXPECT_NE(test::errorText([&] {
                  Encoder{settings};
              }).find("find no-such-codec encoder: Encoder not found"),
              std::string::npos);
}

} // namespace
} // namespace kavlo
