// Usage-event records and their JSON form, shared by the queue file and the
// upload body. Any thread may call these functions.
//
// The form is fixed because the server and queue files written by earlier
// runs rely on it: compact JSON, keys exactly as below, dates as RFC 3339 in
// UTC with whole seconds ("2025-03-01T09:15:42Z").
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace kavlo {

using AnalyticsProperties = QMap<QString, QString>;

// One queued event. Keys: "id", "name", "timestamp", "properties".
struct AppAnalyticsEvent {
    QString id;          // upper-case canonical UUID, unique per event
    QString name;        // "mac_app_session_started", ...
    QDateTime timestamp; // when the event was logged; written to the second
    AnalyticsProperties properties;

    bool operator==(const AppAnalyticsEvent&) const = default;
};

// The body of one upload request.
struct AppAnalyticsBatch {
    QString installationId;
    QString sessionId;
    QString appVersion;
    QString appBuild;
    QString osVersion;
    QList<AppAnalyticsEvent> events; // oldest first
};

// A catalogue event before it is queued: a name and its properties.
struct UsageEvent {
    QString name;
    AnalyticsProperties properties;
};

// A new random UUID as upper-case 8-4-4-4-12 text.
QString newUuidText();

// "2025-03-01T09:15:42Z": UTC, fractional seconds dropped.
QString formatTimestamp(const QDateTime& time);
// Accepts RFC 3339 date-times with "Z" or a numeric offset and whole seconds
// only; anything else (fractions, bare dates, impossible dates) is rejected.
std::optional<QDateTime> parseTimestamp(const QString& text);

// The first `count` user-perceived characters of `text` (grapheme clusters,
// so an emoji with its modifiers or a letter with its accents stays whole).
QString leftCharacters(const QString& text, qsizetype count);

QJsonObject toJson(const AppAnalyticsEvent& event);
QJsonObject toJson(const AppAnalyticsBatch& batch);
// Fails when a key is missing, a value has the wrong type, a property value
// is not a string or the date is not in the form above.
std::optional<AppAnalyticsEvent> eventFromJson(const QJsonValue& value);

// A JSON array of events, compact.
QByteArray encodeEvents(const QList<AppAnalyticsEvent>& events);
// All or nothing: one bad element fails the whole array.
std::optional<QList<AppAnalyticsEvent>> decodeEvents(const QByteArray& json);

QByteArray encodeBatch(const AppAnalyticsBatch& batch);

} // namespace kavlo
