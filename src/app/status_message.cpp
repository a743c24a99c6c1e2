#include "app/status_message.h"

#include <algorithm>
#include <cmath>

namespace kavlo {

std::optional<StatusMessage> statusMessage(const Notice& notice) {
    using K = StatusMessage::Kind;
    StatusMessage message;
    message.text = notice.text;
    message.subject = notice.text;
    switch (notice.kind) {
    case Notice::Kind::none:
        return std::nullopt;
    case Notice::Kind::opening:
        message.delayMs = kOpeningDelayMs;
        break;
    case Notice::Kind::converting:
        message.cancellable = true;
        break;
    case Notice::Kind::previewing:
        message.delayMs = kQuietWorkDelayMs;
        break;
    case Notice::Kind::exporting:
        break;
    case Notice::Kind::saved:
        message.kind = K::saved;
        message.showForMs = kSavedShowMs;
        message.file = notice.file.value_or(std::filesystem::path());
        return message;
    case Notice::Kind::failed:
        message.kind = K::failed;
        message.showForMs = kFailedShowMs;
        return message;
    case Notice::Kind::marked:
        message.kind = K::note;
        message.showForMs = kNoteShowMs;
        return message;
    }
    if (notice.progress && std::isfinite(*notice.progress) && *notice.progress > 0) {
        message.progress = std::clamp(*notice.progress, 0.0, 1.0);
        message.text += QStringLiteral(" %1 %").arg(int(*message.progress * 100));
    }
    return message;
}

} // namespace kavlo
