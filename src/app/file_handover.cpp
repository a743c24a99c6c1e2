#include "app/file_handover.h"

#include "session/file_paths.h"

#include <QFile>
#include <QUrl>

namespace kavlo {

namespace {

// The picture type whose bytes a paste can show, by the file's extension.
QString imageType(const std::filesystem::path& file) {
    const QString extension =
        QFile::decodeName(QByteArray::fromStdString(file.extension().native())).toLower();
    if (extension == u".gif")
        return QStringLiteral("image/gif");
    if (extension == u".webp")
        return QStringLiteral("image/webp");
    return {};
}

} // namespace

std::unique_ptr<QMimeData> fileMimeData(const std::filesystem::path& file) {
    auto data = std::make_unique<QMimeData>();
    const QUrl url = fileUrl(file);
    data->setUrls({url});
    data->setData(QStringLiteral("x-special/gnome-copied-files"),
                  "copy\n" + url.toEncoded(QUrl::FullyEncoded));
    if (const QString type = imageType(file); !type.isEmpty()) {
        QFile image(QFile::decodeName(QByteArray::fromStdString(file.native())));
        if (image.size() <= kMaxImageBytesOnClipboard && image.open(QIODevice::ReadOnly))
            data->setData(type, image.readAll());
    }
    return data;
}

} // namespace kavlo
