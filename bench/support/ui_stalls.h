// How long the UI thread is kept from its event loop, and on what. A 1 ms
// timer notes how late it fires; every event the thread delivers is timed
// with its receiver, and the thread's scheduler statistics tell time spent
// running from time spent waiting for a core or asleep (a lock, I/O). For
// the longest wait the watch keeps what filled it, and how much of the
// cores the process's other threads had meanwhile. Beside it, the floor: a
// process of its own (its own session, so its own scheduling group) that
// only sleeps 1 ms at a time, showing what the rest of the machine alone
// costs a thread that wants to run.
//
// UI thread only. Events are seen through TracedApplication's notify().
#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kavlo::bench {

// CLOCK_MONOTONIC, nanoseconds: the clock of every time below.
std::int64_t monotonicNs();
// The calling thread's time on a core, nanoseconds.
std::int64_t threadCpuNs();

class UiStallWatch {
  public:
    // Starts watching at once (the timer fires from the event loop).
    UiStallWatch();
    ~UiStallWatch();
    UiStallWatch(const UiStallWatch&) = delete;
    UiStallWatch& operator=(const UiStallWatch&) = delete;

    // The longest lateness of the 1 ms timer so far, milliseconds.
    double longestMs() const { return longest_.lateMs; }
    // The floor's longest lateness so far, milliseconds.
    double floorMs() const;
    // What the UI thread did in the longest wait: "12.3 ms: ran 1.2 ms
    // (events 1.0 ms, the longest 0.9 ms: MetaCall to kavlo::Model),
    // waited for a core 10.8 ms, asleep 0.3 ms; the process's other threads
    // ran 9.0 ms; the floor was late 11.0 ms in that time".
    std::string longestCause() const;
    // The event the UI thread spent longest on a core for in the whole
    // watch, stall or not, and the four kinds of event that took most of
    // its time on a core in all (the watch's own ticks among the timers):
    // "4.1 ms on a core (4.3 ms wall): UpdateRequest to QWidgetWindow; in
    // all: 30.2 ms in 150 UpdateRequest to QWidgetWindow, ...". What the
    // thread itself spends, whatever the machine does.
    std::string longestEvent() const;

    // Called by TracedApplication around each outermost event.
    // Both may be gone by then (a deferred delete): what is named of them
    // is taken before delivery.
    // cpuNs: the thread's time on a core during it.
    static void eventDelivered(const char* receiverClass, int eventType, std::int64_t startNs,
                               std::int64_t endNs, std::int64_t cpuNs);

  private:
    struct SchedStat {
        std::int64_t runNs = 0;  // on a core
        std::int64_t waitNs = 0; // runnable, waiting for a core
    };
    struct Interval {
        double lateMs = 0;
        std::int64_t endNs = 0;
        SchedStat sched;
        std::int64_t processRunNs = 0; // every thread of the process
        double eventsMs = 0;
        double longestEventMs = 0;
        const char* longestClass = nullptr;
        int longestType = 0;
    };
    struct Floor;
    SchedStat readSchedStat() const;
    void tick();
    void startFloor();

    std::thread::id thread_ = std::this_thread::get_id(); // the UI thread
    QTimer tick_;
    int schedFd_ = -1;
    std::int64_t lastNs_ = 0;
    SchedStat lastSched_;
    std::int64_t lastProcessNs_ = 0;
    Floor* floor_ = nullptr; // shared with the floor's process
    int floorPid_ = -1;
    Interval current_; // events since the last tick
    Interval longest_;
    struct Kind {
        const char* receiverClass;
        int type;
        double cpuMs;
        int count;
    };
    std::vector<Kind> kinds_;
    double longestEventCpuMs_ = 0, longestEventMs_ = 0;
    const char* longestEventClass_ = nullptr;
    int longestEventType_ = 0;
};

// An application whose notify() times each outermost event for the
// UiStallWatch alive at the time. App: QCoreApplication or QGuiApplication.
template <typename App> class TracedApplication : public App {
  public:
    using App::App;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_++ > 0) {
            const bool result = App::notify(receiver, event);
            --depth_;
            return result;
        }
        const char* receiverClass = receiver->metaObject()->className();
        const int type = event->type();
        const std::int64_t begin = monotonicNs();
        const std::int64_t cpuBegin = threadCpuNs();
        const bool result = App::notify(receiver, event);
        UiStallWatch::eventDelivered(receiverClass, type, begin, monotonicNs(),
                                     threadCpuNs() - cpuBegin);
        --depth_;
        return result;
    }

  private:
    int depth_ = 0;
};

} // namespace kavlo::bench
