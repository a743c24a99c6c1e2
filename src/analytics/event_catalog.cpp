#include "analytics/event_catalog.h"

#include "core/error.h"
#include "core/error_codes.h"

#include <QFile>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <system_error>

namespace kavlo {

namespace {

struct Bound {
    double below;
    const char* label;
};

// The first label whose bound lies above `value`, else `last`.
QString bucket(double value, std::initializer_list<Bound> bounds, const char* last) {
    if (std::isnan(value))
        return QString::fromLatin1(bounds.begin()->label);
    for (const Bound& bound : bounds) {
        if (value < bound.below)
            return QString::fromLatin1(bound.label);
    }
    return QString::fromLatin1(last);
}

QString extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading dot marks a hidden file, not an extension.
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return leftCharacters(name.mid(dot + 1).toLower(), 12);
}

QString formatName(ExportFormat format) {
    return QString::fromLatin1(exportFormatName(format));
}

AnalyticsProperties withPreset(AnalyticsProperties properties, const QString& preset) {
    if (!preset.isEmpty())
        properties.insert("preset", preset);
    return properties;
}

UsageEvent plain(const char* name) {
    return {QString::fromLatin1(name), {}};
}

UsageEvent withProperties(const char* name, AnalyticsProperties properties) {
    return {QString::fromLatin1(name), std::move(properties)};
}

AnalyticsProperties loopAndSpeed(double loopSeconds, double speed) {
    return {{"loop_duration_bucket", durationBucket(loopSeconds)}, {"speed", speedText(speed)}};
}

AnalyticsProperties updateProperties(const QString& version, qint64 build) {
    return {{"available_version", version}, {"available_build", QString::number(build)}};
}

} // namespace

QString durationBucket(double seconds) {
    return bucket(seconds,
                  {{1, "under_1s"},
                   {3, "1_3s"},
                   {10, "3_10s"},
                   {30, "10_30s"},
                   {60, "30_60s"},
                   {300, "1_5m"}},
                  "over_5m");
}

QString resolutionBucket(double displayWidth, double displayHeight) {
    return bucket(std::fmax(displayWidth, displayHeight),
                  {{1280, "sd"}, {1920, "720p"}, {2560, "1080p"}, {3840, "1440p"}}, "4k_plus");
}

QString fpsBucket(double nominalFramesPerSecond) {
    return bucket(nominalFramesPerSecond, {{25, "24_or_less"}, {50, "25_30"}, {90, "50_60"}},
                  "over_60");
}

QString fileSizeBucket(qint64 bytes) {
    const double megabytes = static_cast<double>(bytes) / 1048576.0;
    return bucket(megabytes,
                  {{10, "under_10mb"}, {50, "10_50mb"}, {200, "50_200mb"}, {500, "200_500mb"}},
                  "over_500mb");
}

QString renderTimeBucket(double seconds) {
    return bucket(seconds, {{2, "under_2s"}, {5, "2_5s"}, {15, "5_15s"}, {30, "15_30s"}},
                  "over_30s");
}

QString sourceValue(VideoLoadSource source) {
    switch (source) {
    case VideoLoadSource::picker:
        return QStringLiteral("picker");
    case VideoLoadSource::dragDrop:
        return QStringLiteral("drag_drop");
    case VideoLoadSource::example:
        return QStringLiteral("example");
    case VideoLoadSource::openWith:
        return QStringLiteral("open_with");
    case VideoLoadSource::commandLine:
        return QStringLiteral("command_line");
    }
    return {};
}

QString speedText(double speed) {
    // Fixed notation even for very large or small factors ("100000.0", not
    // "1e+05"); wide enough for every finite double written out in full.
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, speed, std::chars_format::fixed);
    QString shortest = QString::fromLatin1(text, result.ptr - text);
    // to_chars writes 1 for 1.0; a plain integer gets ".0" so every speed
    // reads as a fraction. inf and nan stay as they are.
    if (std::isfinite(speed) && !shortest.contains(u'.'))
        shortest += QStringLiteral(".0");
    return shortest;
}

QString failureReason(std::string_view domain, int code) {
    if (domain == kNetworkDomain)
        return QStringLiteral("network");
    if (domain == kKavloDomain && code == kNoVideoTrackFound)
        return QStringLiteral("no_video_track");
    if (domain == kMediaDomain)
        return QStringLiteral("media");
    return QStringLiteral("unknown");
}

QString failureReason(const std::exception& error) {
    if (const auto* kavloError = dynamic_cast<const Error*>(&error))
        return failureReason(kavloError->domain(), kavloError->code());
    return QStringLiteral("unknown");
}

AnalyticsProperties fileProperties(const std::filesystem::path& path, VideoLoadSource source) {
    // The name's bytes need not be UTF-8; only its extension is reported.
    const QString name = QFile::decodeName(QByteArray::fromStdString(path.filename().native()));
    AnalyticsProperties properties{{"source", sourceValue(source)},
                                   {"file_type", extensionOf(name)}};
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec)
            properties.insert("file_size_bucket", fileSizeBucket(qint64(size)));
    }
    return properties;
}

AnalyticsProperties fileProperties(const QString& path, VideoLoadSource source) {
    return fileProperties(std::filesystem::path(QFile::encodeName(path).toStdString()), source);
}

AnalyticsProperties exportProperties(const ExportDescription& export_) {
    // A GIF or WebP holds one cycle that viewers repeat.
    const bool repeatsForever =
        export_.format == ExportFormat::gif || export_.format == ExportFormat::webp;
    const int loops = repeatsForever ? 1 : export_.loops;
    AnalyticsProperties properties = loopAndSpeed(export_.loopSeconds, export_.speed);
    properties.insert("format", formatName(export_.format));
    properties.insert("loops", QString::number(loops));
    return withPreset(std::move(properties), export_.preset);
}

namespace events {

UsageEvent videoPickerOpened() {
    return plain("mac_app_video_picker_opened");
}
UsageEvent videoPickerCanceled() {
    return plain("mac_app_video_picker_canceled");
}

UsageEvent videoLoadStarted(const AnalyticsProperties& file) {
    return withProperties("mac_app_video_load_started", file);
}

UsageEvent videoLoadSucceeded(const AnalyticsProperties& file, double durationSeconds,
                              double displayWidth, double displayHeight,
                              double nominalFramesPerSecond) {
    AnalyticsProperties properties = file;
    properties.insert("duration_bucket", durationBucket(durationSeconds));
    properties.insert("resolution_bucket", resolutionBucket(displayWidth, displayHeight));
    properties.insert("fps_bucket", fpsBucket(nominalFramesPerSecond));
    return withProperties("mac_app_video_load_succeeded", std::move(properties));
}

UsageEvent videoLoadFailed(const AnalyticsProperties& file, const std::exception& error) {
    AnalyticsProperties properties = file;
    properties.insert("reason", failureReason(error));
    return withProperties("mac_app_video_load_failed", std::move(properties));
}

UsageEvent previewStarted(double loopSeconds, double speed) {
    return withProperties("mac_app_preview_started", loopAndSpeed(loopSeconds, speed));
}

UsageEvent previewSucceeded(double loopSeconds, double speed) {
    return withProperties("mac_app_preview_succeeded", loopAndSpeed(loopSeconds, speed));
}

UsageEvent previewFailed(const std::exception& error) {
    return withProperties("mac_app_preview_failed", {{"reason", failureReason(error)}});
}

UsageEvent trimChanged(TrimInteraction interaction, double loopSeconds) {
    const char* value = interaction == TrimInteraction::startHandle ? "start_handle"
                        : interaction == TrimInteraction::endHandle ? "end_handle"
                                                                    : "move_loop";
    return withProperties("mac_app_trim_changed",
                          {{"interaction", QString::fromLatin1(value)},
                           {"loop_duration_bucket", durationBucket(loopSeconds)}});
}

UsageEvent speedChanged(double speed) {
    return withProperties("mac_app_speed_changed", {{"speed", speedText(speed)}});
}

UsageEvent exportSelected(const ExportDescription& export_) {
    return withProperties("mac_app_export_selected", exportProperties(export_));
}

UsageEvent exportSaveCanceled(ExportFormat format, const QString& preset) {
    return withProperties("mac_app_export_save_canceled",
                          withPreset({{"format", formatName(format)}}, preset));
}

UsageEvent exportStarted(const ExportDescription& export_) {
    return withProperties("mac_app_export_started", exportProperties(export_));
}

UsageEvent exportSucceeded(const ExportDescription& export_, double renderSeconds) {
    AnalyticsProperties properties = exportProperties(export_);
    properties.insert("render_time_bucket", renderTimeBucket(renderSeconds));
    return withProperties("mac_app_export_succeeded", std::move(properties));
}

UsageEvent exportFailed(ExportFormat format, const std::exception& error, const QString& preset) {
    return withProperties(
        "mac_app_export_failed",
        withPreset({{"format", formatName(format)}, {"reason", failureReason(error)}}, preset));
}

UsageEvent updateAvailable(const QString& version, qint64 build) {
    return withProperties("mac_app_update_available", updateProperties(version, build));
}

UsageEvent updateClicked(const QString& version, qint64 build) {
    return withProperties("mac_app_update_clicked", updateProperties(version, build));
}

UsageEvent updateDismissed() {
    return plain("mac_app_update_dismissed");
}

} // namespace events

} // namespace kavlo
