#include "analytics/analytics_event.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QUuid>

namespace kavlo {

QString newUuidText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString formatTimestamp(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

std::optional<QDateTime> parseTimestamp(const QString& text) {
    // Qt's own ISO parser also takes fractions and bare dates, which the
    // queue file must reject, so the form is matched here first.
    static const QRegularExpression form(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(Z|([+-])([0-9]{2}):([0-9]{2}))$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    auto number = [&](int group) { return m.capturedView(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (m.capturedView(7) != u"Z") {
        const int hours = number(9), minutes = number(10);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (m.capturedView(8) == u"-" ? -1 : 1);
    }
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

QString leftCharacters(const QString& text, qsizetype count) {
    if (text.size() <= count) // every character takes at least one UTF-16 unit
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.left(end);
}

QJsonObject toJson(const AppAnalyticsEvent& event) {
    QJsonObject properties;
    for (auto it = event.properties.cbegin(); it != event.properties.cend(); ++it)
        properties.insert(it.key(), it.value());
    return {{"id", event.id},
            {"name", event.name},
            {"timestamp", formatTimestamp(event.timestamp)},
            {"properties", properties}};
}

QJsonObject toJson(const AppAnalyticsBatch& batch) {
    QJsonArray events;
    for (const AppAnalyticsEvent& event : batch.events)
        events.append(toJson(event));
    return {{"installationId", batch.installationId}, {"sessionId", batch.sessionId},
            {"appVersion", batch.appVersion},         {"appBuild", batch.appBuild},
            {"osVersion", batch.osVersion},           {"events", events}};
}

std::optional<AppAnalyticsEvent> eventFromJson(const QJsonValue& value) {
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value("id"), name = object.value("name"),
                     timestamp = object.value("timestamp"), properties = object.value("properties");
    if (!id.isString() || !name.isString() || !timestamp.isString() || !properties.isObject())
        return std::nullopt;
    AppAnalyticsEvent event{id.toString(), name.toString(), {}, {}};
    const std::optional<QDateTime> time = parseTimestamp(timestamp.toString());
    if (!time)
        return std::nullopt;
    event.timestamp = *time;
    const QJsonObject map = properties.toObject();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        event.properties.insert(it.key(), it.value().toString());
    }
    return event;
}

QByteArray encodeEvents(const QList<AppAnalyticsEvent>& events) {
    QJsonArray array;
    for (const AppAnalyticsEvent& event : events)
        array.append(toJson(event));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<AppAnalyticsEvent>> decodeEvents(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<AppAnalyticsEvent> events;
    const QJsonArray array = document.array();
    events.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::optional<AppAnalyticsEvent> event = eventFromJson(element);
        if (!event)
            return std::nullopt;
        events.append(std::move(*event));
    }
    return events;
}

QByteArray encodeBatch(const AppAnalyticsBatch& batch) {
    return QJsonDocument(toJson(batch)).toJson(QJsonDocument::Compact);
}

} // namespace kavlo
