#include "media/library_log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace kavlo {

void limitLibraryLogToErrors() {
    av_log_set_level(AV_LOG_ERROR);
}

} // namespace kavlo
