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

// Nice 10 weighs about a tenth of the default. The weight counts twice: a
// waking UI or presenter thread wins the processor from these threads, and
// the process's share of a busy machine goes to the core where the UI
// thread waits in proportion to what is queued there, so the lighter the
// work on the other core, the sooner the window gets its turn against
// other programs. Against those programs the work keeps its pace where
// each program is a scheduling group of its own (autogroups, a desktop's
// per-application groups): the group's share does not depend on its
// threads' nice values. For renders, loads and the players' decoding.
inline constexpr int kWorkNice = 10;
// Nice 19, the lightest: work nobody waits on frame by frame (the
// thumbnail strip's exact pictures, the size estimates), which gives way to
// the renders as well.
inline constexpr int kBackgroundNice = 19;

inline void setThisThreadNice(int nice) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

} // namespace kavlo
