// What the small notice over the video area says, from the session's
// status text, busy flag and progress: the running work with its progress,
// and for a while after it ends, the outcome ("Saved clip-kavlo.mp4",
// "Export failed: ...", "Could not load video: ..."). Everything else the
// session says (the file name once a preview is ready) is not shown.
#pragma once

#include <QString>

#include <optional>

namespace kavlo {

struct StatusMessage {
    enum class Kind { working, saved, failed, note };

    Kind kind = Kind::working;
    QString text;
    std::optional<double> progress; // 0...1 while working, once known
    int delayMs = 0;                // shown only if still current after this long
    int showForMs = 0;              // hidden after this long; 0: while current

    bool operator==(const StatusMessage&) const = default;
};

// Work the user did not start by a button (a preview after a trim) is shown
// only when it takes a while, so that quick renders do not flicker.
inline constexpr int kQuietWorkDelayMs = 700;
inline constexpr int kSavedShowMs = 8000;
inline constexpr int kFailedShowMs = 12000;
inline constexpr int kNoteShowMs = 2500;

std::optional<StatusMessage> statusMessage(const QString& status, bool busy, double progress);

// "clip-kavlo.mp4" for "Saved clip-kavlo.mp4" and for "Saved
// clip-kavlo.mp4 · 9.6 MB"; empty for any other text.
QString savedFileName(const QString& status);

} // namespace kavlo
