#include "analytics/queue_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kavlo {

QString QueueFile::defaultPath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QStringLiteral("Kavlo/analytics-events.json"));
}

QList<AppAnalyticsEvent> QueueFile::load() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeEvents(file.readAll()).value_or(QList<AppAnalyticsEvent>{});
}

std::optional<QString> QueueFile::save(const QList<AppAnalyticsEvent>& events) const {
    const QString directory = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(directory))
        return QStringLiteral("Could not create the directory %1").arg(directory);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = encodeEvents(events);
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (beforeReplace_)
        beforeReplace_();
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace kavlo
