// FFmpeg failures as errors, and the process-wide settings of the media
// layer. The error types themselves live in core/error.h.
#pragma once

#include "core/error.h"
#include "core/error_codes.h"

#include <string_view>

namespace kavlo {

// Converts a negative FFmpeg status into an Error of the media domain whose
// message names the operation ("open input: No such file or directory").
[[noreturn]] void throwMediaError(int averror, std::string_view operation);

inline int checkAv(int ret, std::string_view operation) {
    if (ret < 0)
        throwMediaError(ret, operation);
    return ret;
}

// True for the error of opening a track no decoder of this build reads.
bool isMissingDecoder(const Error& e);
// True for a file that is not there or that may not be read.
bool isUnreadableFile(const Error& e);
// True for FFmpeg's "Invalid data found when processing input".
bool isDamagedData(const Error& e);

// Makes the C library hand picture-sized buffers straight back to the system
// when they are freed, instead of keeping them in its heap for reuse; a
// render's peak memory then stays what it really holds. Called by main().
void returnLargeBuffersToTheSystem();

} // namespace kavlo
