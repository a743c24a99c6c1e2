// What the update endpoint announces, and the plain rules around it: the
// strict decoding of its answer, where it is asked, and this program's own
// build number. Pure functions of their arguments; any thread may call them.
#pragma once

#include <QByteArrayView>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace kavlo {

// An available update, as the endpoint describes it.
struct MacUpdateInfo {
    QString version;
    qint64 build = 0;
    QString downloadUrl;
    std::optional<QString> sha256; // carried, not used
    QString releaseNotes;

    bool operator==(const MacUpdateInfo&) const = default;
};

// Where the web API lives when the information dictionary does not say.
inline constexpr char kDefaultApiBaseUrl[] = "https://kavlo.app";
inline constexpr char kUpdatePath[] = "/api/mac/update";

// One JSON object with "version", "build" (a whole number), "downloadUrl",
// "releaseNotes" (all required) and "sha256" (text, null or absent). Unknown
// keys are ignored; anything else (a missing key, a wrong type, a fraction,
// trailing bytes, invalid UTF-8) makes the whole body invalid.
std::optional<MacUpdateInfo> decodeUpdateInfo(QByteArrayView body);

// The update address for an information dictionary: "KavloApiBaseURL"
// trimmed (the built-in default when missing, not text or blank) with every
// leading and trailing "/" removed, then "/api/mac/update". None when that is
// not an absolute http(s) address with a host.
std::optional<QUrl> updateEndpoint(const QJsonObject& info);

// "CFBundleVersion" read as a decimal integer: 1 when missing, not text or
// not a whole number.
qint64 appBuildNumber(const QJsonObject& info);

// "Version 2.0 is available. " followed by the release notes.
QString updateAlertMessage(const MacUpdateInfo& update);

// The address the "Download" button opens: none unless `text` parses as an
// absolute http or https URL with a host.
std::optional<QUrl> downloadAddress(const QString& text);

} // namespace kavlo
