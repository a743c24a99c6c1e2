#include "session/video_files.h"

#include "session/file_paths.h"

#include <QMimeDatabase>

namespace kavlo {

namespace {

// Both cases: Qt's filters compare case-sensitively on Linux, and cameras
// write "MOV" and "MP4" as often as not.
void appendBothCases(QStringList& patterns, const QString& pattern) {
    for (const QString& p : {pattern.toLower(), pattern.toUpper()})
        if (!patterns.contains(p))
            patterns.append(p);
}

} // namespace

const QStringList& acceptedVideoExtensions() {
    static const QStringList extensions = {
        "3g2",  "3gp", "asf",   "avi",  "divx", "dv",  "f4v", "flv",  "hevc", "m2t",
        "m2ts", "m4v", "mjpeg", "mjpg", "mkv",  "mov", "mp4", "mpeg", "mpg",  "mts",
        "mxf",  "ogm", "ogv",   "rm",   "rmvb", "ts",  "vob", "webm", "wmv"};
    return extensions;
}

const QStringList& acceptedVideoMimeTypes() {
    static const QStringList types = [] {
        QStringList names = {"video/mp4", "video/quicktime"};
        for (const QMimeType& type : QMimeDatabase().allMimeTypes())
            if (type.name().startsWith(QLatin1String("video/")))
                names.append(type.name());
        names.sort();
        names.removeDuplicates();
        return names;
    }();
    return types;
}

const QStringList& acceptedVideoPatterns() {
    static const QStringList patterns = [] {
        QStringList all;
        for (const QString& extension : acceptedVideoExtensions())
            appendBothCases(all, QStringLiteral("*.") + extension);
        const QMimeDatabase db;
        for (const QString& name : acceptedVideoMimeTypes())
            for (const QString& glob : db.mimeTypeForName(name).globPatterns())
                appendBothCases(all, glob);
        return all;
    }();
    return patterns;
}

QString acceptedVideoNameFilter() {
    return QStringLiteral("Videos (") + acceptedVideoPatterns().join(u' ') + u')';
}

QString proposedExportName(const std::filesystem::path& source, ExportFormat format) {
    return displayName(source.filename().stem()) + QStringLiteral("-kavlo.") +
           QString::fromLatin1(exportFormatName(format));
}

} // namespace kavlo
