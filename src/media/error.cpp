#include "media/error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace kavlo {

void throwMediaError(int averror, std::string_view operation) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    std::string message(operation);
    message += ": ";
    message += text;
    throw Error(kMediaDomain, averror, std::move(message));
}

} // namespace kavlo

extern "C" {
#include <libavutil/log.h>
}

namespace kavlo {
void quietMediaLogging() {
    av_log_set_level(AV_LOG_ERROR);
}
} // namespace kavlo
