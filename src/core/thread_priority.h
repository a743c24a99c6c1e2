// How background threads give way: the UI thread and the players' presenters
// should win the processor from them whenever they want it, so a render or a
// decode never keeps the window or a playing loop waiting. Set per thread
// (Linux: PRIO_PROCESS with a thread id); threads that a library starts
// (x264's, libavcodec's) inherit the value from the thread that starts them,
// so a thread sets it before it opens its encoder or decoder.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

namespace kavlo {

// Nice 5 weighs about a third of the default: the scheduler prefers a
// waking UI or presenter thread, while the work keeps its pace next to
// other busy programs. For renders, loads and the players' decoding.
inline constexpr int kWorkNice = 5;
// Nice 10 weighs about a tenth: work nobody waits on frame by frame (the
// thumbnail strip's exact pictures, the size estimates).
inline constexpr int kBackgroundNice = 10;

inline void setThisThreadNice(int nice) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

} // namespace kavlo
