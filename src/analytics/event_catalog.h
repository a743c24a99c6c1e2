// Every usage event the application logs, with its exact property keys and
// values. Plain functions of plain values; any thread may call them.
//
// Values never carry a path, a file name or an error text: sizes, durations,
// resolutions, frame rates and render times go out only as coarse buckets.
#pragma once

#include "analytics/analytics_event.h"
#include "core/export_format.h"

#include <exception>
#include <filesystem>
#include <string_view>

namespace kavlo {

// How a video was opened.
enum class VideoLoadSource { picker, dragDrop, example, openWith, commandLine };
// Which drag ended: a trim handle or the whole selection.
enum class TrimInteraction { startHandle, endHandle, moveLoop };

// Buckets: each label covers values from the previous bound up to, not
// including, its own. Unknown (NaN) values fall in the first bucket.
QString durationBucket(double seconds);
QString resolutionBucket(double displayWidth, double displayHeight);
QString fpsBucket(double nominalFramesPerSecond); // before any default is substituted
QString fileSizeBucket(qint64 bytes);
QString renderTimeBucket(double seconds);

QString sourceValue(VideoLoadSource source);
// "0.25", "0.5", "1.0", "2.0": the shortest text that reads back as the
// same double, always with a fractional part.
QString speedText(double speed);

// "network", "no_video_track", "media" or "unknown", from the domain and
// code alone; an exception that is not a kavlo::Error is "unknown".
QString failureReason(std::string_view domain, int code);
QString failureReason(const std::exception& error);

// "source", "file_type" (extension, lower case, at most 12 characters) and
// "file_size_bucket" (left out when the size cannot be read). Only the
// file's metadata is read. The session passes the path's bytes: a name that
// is not valid UTF-8 has no QString that finds the file again.
AnalyticsProperties fileProperties(const std::filesystem::path& path, VideoLoadSource source);
AnalyticsProperties fileProperties(const QString& path, VideoLoadSource source);

// An export as the session sees it when the event fires.
struct ExportDescription {
    ExportFormat format = ExportFormat::mp4;
    int loops = 1;            // reported as 1 for GIF and WebP whatever the control shows
    double speed = 1.0;       // the export speed factor
    double loopSeconds = 0.0; // selection length in source seconds
    // The preset's name ("discord"); empty for an export without one. A
    // preset the user added is reported as "custom".
    QString preset;
};

// "format", "loops", "speed", "loop_duration_bucket", and "preset" when the
// export has one.
AnalyticsProperties exportProperties(const ExportDescription& export_);

namespace events {

inline constexpr char kFirstOpen[] = "mac_app_first_open";
inline constexpr char kSessionStarted[] = "mac_app_session_started";

UsageEvent videoPickerOpened();
UsageEvent videoPickerCanceled();
// `file` is fileProperties() of the location the load was started with.
UsageEvent videoLoadStarted(const AnalyticsProperties& file);
UsageEvent videoLoadSucceeded(const AnalyticsProperties& file, double durationSeconds,
                              double displayWidth, double displayHeight,
                              double nominalFramesPerSecond);
UsageEvent videoLoadFailed(const AnalyticsProperties& file, const std::exception& error);
UsageEvent previewStarted(double loopSeconds, double speed);
// The selection and speed captured when the preparation started.
UsageEvent previewSucceeded(double loopSeconds, double speed);
UsageEvent previewFailed(const std::exception& error);
UsageEvent trimChanged(TrimInteraction interaction, double loopSeconds);
UsageEvent speedChanged(double speed);
UsageEvent exportSelected(const ExportDescription& export_);
UsageEvent exportSaveCanceled(ExportFormat format, const QString& preset = {});
UsageEvent exportStarted(const ExportDescription& export_);
UsageEvent exportSucceeded(const ExportDescription& export_, double renderSeconds);
UsageEvent exportFailed(ExportFormat format, const std::exception& error,
                        const QString& preset = {});
UsageEvent updateAvailable(const QString& version, qint64 build);
UsageEvent updateClicked(const QString& version, qint64 build);
UsageEvent updateDismissed();

} // namespace events

} // namespace kavlo
