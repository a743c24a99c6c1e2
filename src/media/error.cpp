#include "media/error.h"

#include <cerrno>
#include <malloc.h>

extern "C" {
#include <libavutil/error.h>
}

namespace kavlo {

bool isMissingDecoder(const Error& e) {
    return e.domain() == kMediaDomain && e.code() == AVERROR_DECODER_NOT_FOUND;
}

bool isDamagedData(const Error& e) {
    return e.domain() == kMediaDomain && e.code() == AVERROR_INVALIDDATA;
}

bool isUnreadableFile(const Error& e) {
    return e.domain() == kMediaDomain &&
           (e.code() == AVERROR(ENOENT) || e.code() == AVERROR(EACCES));
}

void throwMediaError(int averror, std::string_view operation) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    std::string message(operation);
    message += ": ";
    message += text;
    throw Error(kMediaDomain, averror, std::move(message));
}

void returnLargeBuffersToTheSystem() {
    // A fixed threshold also stops glibc from raising it after each free.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

} // namespace kavlo
