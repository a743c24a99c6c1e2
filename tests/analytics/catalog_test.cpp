// Buckets at their bounds, reasons, file and export properties: the texts
// the server counts on.
#include "analytics/event_catalog.h"
#include "core/error.h"
#include "core/error_codes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

using namespace kavlo;

TEST(AnalyticsCatalog, BucketsSwitchExactlyAtTheirBounds) {
    const std::pair<double, const char*> durations[] = {
        {0.99, "under_1s"}, {1.0, "1_3s"}, {2.999, "1_3s"},  {3.0, "3_10s"},   {10.0, "10_30s"},
        {30, "30_60s"},     {60, "1_5m"},  {299.99, "1_5m"}, {300, "over_5m"}, {NAN, "under_1s"}};
    for (auto [seconds, label] : durations)
        EXPECT_EQ(durationBucket(seconds), label) << seconds;

    const std::tuple<int, int, const char*> sizes[] = {
        {1920, 1080, "1080p"}, {1080, 1920, "1080p"}, {1280, 720, "720p"},
        {1279, 720, "sd"},     {2560, 1440, "1440p"}, {3840, 2160, "4k_plus"}};
    for (auto [width, height, label] : sizes)
        EXPECT_EQ(resolutionBucket(width, height), label) << width << "x" << height;

    const std::pair<double, const char*> rates[] = {{0, "24_or_less"}, {24, "24_or_less"},
                                                    {25, "25_30"},     {50, "50_60"},
                                                    {89.99, "50_60"},  {90, "over_60"}};
    for (auto [fps, label] : rates)
        EXPECT_EQ(fpsBucket(fps), label) << fps;

    const qint64 mb = 1'048'576;
    const std::pair<qint64, const char*> files[] = {{10 * mb - 1, "under_10mb"},
                                                    {10 * mb, "10_50mb"},
                                                    {50 * mb, "50_200mb"},
                                                    {200 * mb, "200_500mb"},
                                                    {500 * mb, "over_500mb"}};
    for (auto [bytes, label] : files)
        EXPECT_EQ(fileSizeBucket(bytes), label) << bytes;

    const std::pair<double, const char*> renders[] = {
        {1.999, "under_2s"}, {2, "2_5s"}, {5, "5_15s"}, {15, "15_30s"}, {30, "over_30s"}};
    for (auto [seconds, label] : renders)
        EXPECT_EQ(renderTimeBucket(seconds), label) << seconds;
}

// Fixed notation, never an exponent, and always a fraction.
TEST(AnalyticsCatalog, SpeedsAreShortestRoundTripTextsWithAFraction) {
    const std::pair<double, const char*> speeds[] = {
        {0.25, "0.25"},     {1.0, "1.0"},          {1.5, "1.5"},
        {0.1, "0.1"},       {100000, "100000.0"},  {1.0 / 3.0, "0.3333333333333333"},
        {0.0001, "0.0001"}, {1.5e-7, "0.00000015"}};
    for (auto [speed, text] : speeds) {
        EXPECT_EQ(speedText(speed), text);
        EXPECT_EQ(speedText(speed).toDouble(), speed);
    }
}

TEST(AnalyticsCatalog, ReasonDependsOnDomainAndCodeOnly) {
    EXPECT_EQ(failureReason(Error("QtNetwork", 99, "timed out")), "network");
    EXPECT_EQ(failureReason(kavloError(12, "No video track found.")), "no_video_track");
    EXPECT_EQ(failureReason(kavloError(11, "No video track found.")), "unknown");
    // The renderer's sound failures once shared code 12.
    for (int code : {kAudioFormatUnreadable, kAudioUnreadable, kAudioSamplesUndecodable})
        EXPECT_EQ(failureReason(kavloError(code, "Could not read audio.")), "unknown");
    // A converter killed by signal 12, or stopped with exit status 12, is
    // neither a missing video track nor a media library failure.
    EXPECT_EQ(failureReason(Error(kConverterDomain, converterSignalCode(12), "killed")), "unknown");
    EXPECT_EQ(failureReason(Error(kConverterDomain, converterExitCode(12), "stopped")), "unknown");
    EXPECT_EQ(failureReason(Error(kMediaDomain, 12, "open input")), "media");
    EXPECT_EQ(failureReason(std::runtime_error("FFmpeg")), "unknown");
    EXPECT_EQ(failureReason("NSURLErrorDomain", 12), "unknown");
}

TEST(AnalyticsCatalog, FileAndEventPropertiesCarryExactTextsButNeitherNameNorPath) {
    QTemporaryDir dir;
    QFile clip(dir.filePath("Holiday Clip.MOV"));
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly) && clip.resize(10 * 1'048'576));
    clip.close();
    EXPECT_EQ(fileProperties(clip.fileName(), VideoLoadSource::dragDrop),
              (AnalyticsProperties{
                  {"source", "drag_drop"}, {"file_type", "mov"}, {"file_size_bucket", "10_50mb"}}));
    EXPECT_EQ(fileProperties(dir.filePath("gone.Abcdefghijklmnop"), VideoLoadSource::commandLine),
              (AnalyticsProperties{{"source", "command_line"}, {"file_type", "abcdefghijkl"}}));
    for (const char* name : {"README", ".hidden"})
        EXPECT_EQ(fileProperties(dir.filePath(name), VideoLoadSource::picker).value("file_type"),
                  "")
            << name;

    // A preset's name, never a file's; WebP, like GIF, is one cycle.
    EXPECT_EQ(
        events::exportStarted({ExportFormat::webp, 3, 1.0, 1.0, "whatsapp-sticker"}).properties,
        (AnalyticsProperties{{"format", "webp"},
                             {"loops", "1"},
                             {"speed", "1.0"},
                             {"loop_duration_bucket", "1_3s"},
                             {"preset", "whatsapp-sticker"}}));
    EXPECT_EQ(
        events::exportStarted({ExportFormat::webm, 4, 1.0, 1.0, {}}).properties.value("loops"),
        "4");
    // A failure's message may hold a path: only its reason is sent.
    EXPECT_EQ(
        events::exportFailed(ExportFormat::mp4, Error(kMediaDomain, -5, "/home/me/secret.mov"))
            .properties,
        (AnalyticsProperties{{"format", "mp4"}, {"reason", "media"}}));
    EXPECT_EQ(events::exportSucceeded({ExportFormat::mp4, 3, 2.0, 0.99, {}}, 15.0)
                  .properties.value("render_time_bucket"),
              "15_30s");
    const AnalyticsProperties file{{"source", "picker"}, {"file_type", "mp4"}};
    EXPECT_EQ(events::videoLoadSucceeded(file, 12.5, 1080, 1920, 59.94).properties,
              (AnalyticsProperties{{"source", "picker"},
                                   {"file_type", "mp4"},
                                   {"duration_bucket", "10_30s"},
                                   {"resolution_bucket", "1080p"},
                                   {"fps_bucket", "50_60"}}));
}
