// The application's information dictionary: the JSON resource ":/Info.json"
// compiled into the program, read once. Any thread may call these.
#pragma once

#include <QJsonObject>
#include <QUrl>

#include <optional>

namespace kavlo {

inline constexpr char kApiBaseUrlKey[] = "KavloApiBaseURL";
inline constexpr char kShortVersionKey[] = "CFBundleShortVersionString";
inline constexpr char kBuildVersionKey[] = "CFBundleVersion";

// Set to override "KavloApiBaseURL", for development and tests against a
// local server. Nothing else can redirect the web API.
inline constexpr char kApiBaseUrlEnvironment[] = "KAVLO_API_BASE_URL";

// The bundled dictionary with the environment override applied; empty when
// the resource is missing or not a JSON object.
QJsonObject bundleInfo();

// The upload address: "KavloApiBaseURL" trimmed, with "api/mac/analytics"
// appended after exactly one "/". None when the key is missing, not text,
// blank, or not an absolute http(s) address with a host.
std::optional<QUrl> analyticsEndpoint(const QJsonObject& info);

} // namespace kavlo
