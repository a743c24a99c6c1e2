#include "app/update_info.h"

#include "analytics/bundle_info.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace kavlo {

namespace {

std::optional<QString> requiredText(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1StringView(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// JSON numbers carry no integer type of their own: a whole number that fits
// in 64 bits is accepted, "2.5" and "1e30" are not.
std::optional<qint64> requiredInteger(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1StringView(key));
    if (!value.isDouble())
        return std::nullopt;
    const qint64 a = value.toInteger(0);
    if (a != value.toInteger(1))
        return std::nullopt;
    return a;
}

QString trimSlashes(QString text) {
    while (text.startsWith(u'/'))
        text.remove(0, 1);
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

} // namespace

std::optional<MacUpdateInfo> decodeUpdateInfo(QByteArrayView body) {
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(body.data(), body.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    MacUpdateInfo update;
    const auto version = requiredText(object, "version");
    const auto build = requiredInteger(object, "build");
    const auto downloadUrl = requiredText(object, "downloadUrl");
    const auto releaseNotes = requiredText(object, "releaseNotes");
    if (!version || !build || !downloadUrl || !releaseNotes)
        return std::nullopt;
    const QJsonValue sha256 = object.value(QLatin1StringView("sha256"));
    if (sha256.isString())
        update.sha256 = sha256.toString();
    else if (!sha256.isNull() && !sha256.isUndefined())
        return std::nullopt;
    update.version = *version;
    update.build = *build;
    update.downloadUrl = *downloadUrl;
    update.releaseNotes = *releaseNotes;
    return update;
}

std::optional<QUrl> updateEndpoint(const QJsonObject& info) {
    const QJsonValue value = info.value(QLatin1StringView(kApiBaseUrlKey));
    QString base = value.isString() ? value.toString().trimmed() : QString();
    if (base.isEmpty())
        base = QString::fromLatin1(kDefaultApiBaseUrl);
    const QUrl url(trimSlashes(base) + u'/' + trimSlashes(QString::fromLatin1(kUpdatePath)),
                   QUrl::StrictMode);
    // A configured address that is not a web address is a configuration
    // error; the check is skipped rather than sent somewhere unintended.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "http" && scheme != "https"))
        return std::nullopt;
    return url;
}

qint64 appBuildNumber(const QJsonObject& info) {
    const QJsonValue value = info.value(QLatin1StringView(kBuildVersionKey));
    if (!value.isString())
        return 1;
    bool ok = false;
    const qint64 build = value.toString().toLongLong(&ok, 10);
    return ok ? build : 1;
}

QString updateAlertMessage(const MacUpdateInfo& update) {
    return QStringLiteral("Version ") + update.version + QStringLiteral(" is available. ") +
           update.releaseNotes;
}

std::optional<QUrl> downloadAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    // Opened by the desktop's default handler: only a web page, never a
    // file, a script or another program's scheme the server might send.
    const QString scheme = url.scheme().toLower();
    if ((scheme != u"https" && scheme != u"http") || url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace kavlo
