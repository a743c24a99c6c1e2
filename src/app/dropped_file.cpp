#include "app/dropped_file.h"

#include <QMimeData>

namespace kavlo {

std::optional<std::filesystem::path> localFileOf(const QUrl& url) {
    if (!url.isValid() || url.scheme().compare(u"file", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // The encoded path keeps bytes that are not UTF-8 as %XX escapes.
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/'))
        return std::nullopt;
    return std::filesystem::path(bytes.toStdString());
}

std::optional<std::filesystem::path> droppedFile(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (auto file = localFileOf(url))
            return file;
    }
    QByteArray text = data.data(QStringLiteral("text/plain;charset=utf-8"));
    if (text.isEmpty())
        text = data.data(QStringLiteral("text/plain"));
    const qsizetype lineEnd = text.indexOf('\n');
    const QByteArray line = (lineEnd < 0 ? text : text.left(lineEnd)).trimmed();
    if (line.startsWith('/'))
        return std::filesystem::path(line.toStdString());
    if (line.startsWith("file:"))
        return localFileOf(QUrl::fromEncoded(line));
    return std::nullopt;
}

} // namespace kavlo
