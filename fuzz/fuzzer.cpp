// libFuzzer's entry point for one target, chosen when it is built
// (KAVLO_FUZZ_TARGET names a function of targets.h).
#include "targets.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    kavlo::fuzz::KAVLO_FUZZ_TARGET(data, size);
    return 0;
}
