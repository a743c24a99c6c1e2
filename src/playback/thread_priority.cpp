#include "playback/thread_priority.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kavlo {

namespace {
// A nice value of 5 weighs about a third of the default: enough for the
// scheduler to prefer a waking presenter, little enough that decoding keeps
// its pace next to other busy programs.
constexpr int kDecodingNice = 5;
} // namespace

void nameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

void lowerThisThreadPriority() {
    // Per thread on Linux: PRIO_PROCESS with a thread id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kDecodingNice);
}

} // namespace kavlo
