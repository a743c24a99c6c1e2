#include "analytics/bundle_info.h"

#include <QFile>
#include <QJsonDocument>

namespace kavlo {

namespace {

QJsonObject readBundledInfo() {
    QFile file(QStringLiteral(":/Info.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

QJsonObject bundleInfo() {
    static const QJsonObject bundled = readBundledInfo();
    QJsonObject info = bundled;
    if (qEnvironmentVariableIsSet(kApiBaseUrlEnvironment))
        info.insert(kApiBaseUrlKey, qEnvironmentVariable(kApiBaseUrlEnvironment));
    return info;
}

std::optional<QUrl> analyticsEndpoint(const QJsonObject& info) {
    const QJsonValue value = info.value(kApiBaseUrlKey);
    if (!value.isString())
        return std::nullopt;
    QUrl url(value.toString().trimmed(), QUrl::StrictMode);
    // Events leave the machine only for a real web address; anything else
    // would fail on every attempt or go somewhere unintended.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "http" && scheme != "https"))
        return std::nullopt;
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + QStringLiteral("/api/mac/analytics"));
    return url;
}

} // namespace kavlo
