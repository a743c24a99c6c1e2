#include "playback/thread_priority.h"

#include "core/thread_priority.h"

#include <pthread.h>

namespace kavlo {

void nameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

void lowerThisThreadPriority() {
    setThisThreadNice(kWorkNice);
}

} // namespace kavlo
