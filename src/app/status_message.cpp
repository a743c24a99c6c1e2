#include "app/status_message.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

namespace {

constexpr const char* kFailurePrefixes[] = {
    "Could not load video: ", "Preview failed: ", "Export failed: ", "GIF export failed: "};
constexpr char kSavedPrefix[] = "Saved ";

bool startsWith(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1StringView(prefix));
}

} // namespace

std::optional<StatusMessage> statusMessage(const QString& status, bool busy, double progress) {
    for (const char* prefix : kFailurePrefixes) {
        if (startsWith(status, prefix))
            return StatusMessage{StatusMessage::Kind::failed, status, {}, 0, kFailedShowMs};
    }
    if (startsWith(status, kSavedPrefix) && status.size() > int(sizeof kSavedPrefix) - 1)
        return StatusMessage{StatusMessage::Kind::saved, status, {}, 0, kSavedShowMs};
    if (status.isEmpty())
        return std::nullopt;
    if (busy) {
        StatusMessage message{StatusMessage::Kind::working, status, {}, 0, 0};
        if (std::isfinite(progress) && progress > 0)
            message.progress = std::min(progress, 1.0);
        if (!startsWith(status, "Exporting"))
            message.delayMs = kQuietWorkDelayMs;
        return message;
    }
    // Marking has no control of its own to show that it happened.
    if (startsWith(status, "Marked ") || startsWith(status, "Restored "))
        return StatusMessage{StatusMessage::Kind::note, status, {}, 0, kNoteShowMs};
    return std::nullopt;
}

QString savedFileName(const QString& status) {
    if (!startsWith(status, kSavedPrefix))
        return {};
    QString name = status.mid(int(sizeof kSavedPrefix) - 1);
    // The file's size follows the name: "Saved clip-kavlo.mp4 · 9.6 MB".
    const qsizetype size = name.lastIndexOf(QStringLiteral(" · "));
    if (size > 0)
        name.truncate(size);
    return name;
}

} // namespace kavlo
