// How the small notice over the video area presents the session's Notice:
// the running work with its progress, and for a while after it ends, the
// outcome ("Saved clip-kavlo.mp4", a failure). Work the user did not start
// by a button (a preview after a trim) is shown only when it takes a while.
#pragma once

#include "session/notice.h"

#include <QString>

#include <filesystem>
#include <optional>

namespace kavlo {

struct StatusMessage {
    enum class Kind { working, saved, failed, note };

    Kind kind = Kind::working;
    QString text;                   // with the percentage once progress is known
    std::optional<double> progress; // 0...1 while working, once known
    int delayMs = 0;                // shown only if still current after this long
    int showForMs = 0;              // hidden after this long; 0: while current
    bool cancellable = false;       // offers "Cancel" (a conversion)
    std::filesystem::path file;     // a saved file: offered to copy, drag and show
    QString subject;                // the notice's own text: the same notice while it moves

    bool operator==(const StatusMessage&) const = default;
};

inline constexpr int kQuietWorkDelayMs = 700;
inline constexpr int kOpeningDelayMs = 250;
inline constexpr int kSavedShowMs = 8000;
inline constexpr int kFailedShowMs = 12000;
inline constexpr int kNoteShowMs = 2500;

std::optional<StatusMessage> statusMessage(const Notice& notice);

} // namespace kavlo
