#include "session/file_paths.h"

#include <QByteArray>
#include <QFile>

#include <system_error>

namespace kavlo {

namespace fs = std::filesystem;

namespace {

const QByteArray kReplacementUtf8 = QByteArrayLiteral("\xEF\xBF\xBD");

QByteArray bytesOf(const fs::path& path) {
    return QByteArray::fromStdString(path.native());
}

fs::path pathOf(const QByteArray& bytes) {
    return fs::path(bytes.toStdString());
}

// The entry of `dir` that Qt displays as `shown`, when exactly one does.
std::optional<fs::path> uniqueEntryShownAs(const fs::path& dir, const QString& shown) {
    std::optional<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path name = it->path().filename();
        if (QFile::decodeName(bytesOf(name)) != shown)
            continue;
        if (found)
            return std::nullopt;
        found = name;
    }
    return found;
}

// Undoes a trip through text where it can: a name that lost bytes to U+FFFD
// is matched against what is on disk, one component at a time.
fs::path recoverLossyPath(const fs::path& path) {
    std::error_code ec;
    if (!bytesOf(path).contains(kReplacementUtf8) || fs::exists(path, ec))
        return path;
    fs::path resolved;
    for (const fs::path& part : path) {
        fs::path next = resolved / part;
        if (bytesOf(part).contains(kReplacementUtf8) && !fs::exists(next, ec)) {
            if (auto entry = uniqueEntryShownAs(resolved, QString::fromUtf8(bytesOf(part))))
                next = resolved / *entry;
        }
        resolved = std::move(next);
    }
    return resolved;
}

} // namespace

QUrl fileUrl(const fs::path& file) {
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (ec)
        absolute = file;
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setPath(QString::fromLatin1(bytesOf(absolute).toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

std::optional<fs::path> pathFromUrl(const QUrl& url) {
    if (!url.isLocalFile())
        return std::nullopt;
    if (!url.host().isEmpty() && url.host() != QLatin1String("localhost"))
        return std::nullopt;
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    return recoverLossyPath(pathOf(QByteArray::fromPercentEncoding(encoded)));
}

fs::path pathFromText(const QString& text) {
    if (text.startsWith(QLatin1String("file:"))) {
        if (auto path = pathFromUrl(QUrl(text)))
            return *path;
    }
    return recoverLossyPath(pathOf(text.toUtf8()));
}

QString displayPath(const fs::path& file) {
    return QFile::decodeName(bytesOf(file));
}

QString displayName(const fs::path& file) {
    const fs::path name = file.has_filename() ? file.filename() : file.parent_path().filename();
    return displayPath(name);
}

} // namespace kavlo
