#include "ui_stalls.h"

#include <QEvent>
#include <QMetaEnum>
#include <QObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavlo::bench {

namespace {

UiStallWatch* watching = nullptr;

std::string describe(const char* receiverClass, int eventType) {
    if (!receiverClass)
        return "none";
    const char* type = QMetaEnum::fromType<QEvent::Type>().valueToKey(eventType);
    return std::string(type ? type : std::to_string(eventType).c_str()) + " to " + receiverClass;
}

std::int64_t processCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Written by the floor's process only; read here without a lock (a torn
// read costs one figure of a benchmark).
struct UiStallWatch::Floor {
    static constexpr int kLate = 4096;
    volatile double longestMs;
    volatile int count;
    struct Late {
        std::int64_t endNs;
        double ms;
    };
    Late late[kLate]; // every wait over 2 ms, the newest kLate of them
};

void UiStallWatch::startFloor() {
    void* shared =
        mmap(nullptr, sizeof(Floor), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        return;
    floor_ = static_cast<Floor*>(shared);
    floorPid_ = fork();
    if (floorPid_ != 0)
        return;
    // The child only sleeps and notes the time: nothing that could need a
    // lock another thread of the parent held at the fork.
    setsid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (;;) {
        const std::int64_t start = monotonicNs();
        const timespec oneMs{0, 1'000'000};
        nanosleep(&oneMs, nullptr);
        const std::int64_t end = monotonicNs();
        const double lateMs = double(end - start) / 1e6 - 1.0;
        if (lateMs > floor_->longestMs)
            floor_->longestMs = lateMs;
        if (lateMs > 2.0) {
            floor_->late[floor_->count % Floor::kLate] = {end, lateMs};
            floor_->count = floor_->count + 1;
        }
    }
}

double UiStallWatch::floorMs() const {
    return floor_ ? floor_->longestMs : 0;
}

UiStallWatch::UiStallWatch() {
    // Time on a core and time runnable but waiting for one, of this thread.
    schedFd_ = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    startFloor();
    watching = this;
    lastNs_ = monotonicNs();
    lastSched_ = readSchedStat();
    lastProcessNs_ = processCpuNs();
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(1);
    QObject::connect(&tick_, &QTimer::timeout, [this] { tick(); });
    tick_.start();
}

UiStallWatch::~UiStallWatch() {
    if (watching == this)
        watching = nullptr;
    if (schedFd_ >= 0)
        close(schedFd_);
    if (floorPid_ > 0) {
        kill(floorPid_, SIGKILL);
        waitpid(floorPid_, nullptr, 0);
    }
    if (floor_)
        munmap(floor_, sizeof(Floor));
}

UiStallWatch::SchedStat UiStallWatch::readSchedStat() const {
    char text[128] = {};
    if (schedFd_ < 0 || pread(schedFd_, text, sizeof text - 1, 0) <= 0)
        return {};
    long long run = 0, wait = 0;
    if (std::sscanf(text, "%lld %lld", &run, &wait) != 2)
        return {};
    return {run, wait};
}

std::int64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void UiStallWatch::eventDelivered(const char* receiverClass, int eventType, std::int64_t startNs,
                                  std::int64_t endNs, std::int64_t cpuNs) {
    // Threads with event loops of their own deliver through notify() too.
    if (!watching || std::this_thread::get_id() != watching->thread_)
        return;
    Interval& now = watching->current_;
    const double ms = double(endNs - startNs) / 1e6;
    now.eventsMs += ms;
    if (ms > now.longestEventMs) {
        now.longestEventMs = ms;
        now.longestClass = receiverClass;
        now.longestType = eventType;
    }
    const double cpuMs = double(cpuNs) / 1e6;
    // Class names are static strings: the pointer names the class.
    auto kind = std::find_if(watching->kinds_.begin(), watching->kinds_.end(), [&](const Kind& k) {
        return k.receiverClass == receiverClass && k.type == eventType;
    });
    if (kind == watching->kinds_.end())
        kind = watching->kinds_.insert(kind, {receiverClass, eventType, 0, 0});
    kind->cpuMs += cpuMs;
    ++kind->count;
    if (cpuMs > watching->longestEventCpuMs_) {
        watching->longestEventCpuMs_ = cpuMs;
        watching->longestEventMs_ = ms;
        watching->longestEventClass_ = receiverClass;
        watching->longestEventType_ = eventType;
    }
}

std::string UiStallWatch::longestEvent() const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%.1f ms on a core (%.1f ms wall): %s; in all:", longestEventCpuMs_,
                  longestEventMs_, describe(longestEventClass_, longestEventType_).c_str());
    std::string result = text;
    std::vector<Kind> kinds = kinds_;
    std::sort(kinds.begin(), kinds.end(),
              [](const Kind& a, const Kind& b) { return a.cpuMs > b.cpuMs; });
    for (std::size_t i = 0; i < kinds.size() && i < 4; ++i) {
        std::snprintf(text, sizeof text, "%s %.1f ms in %d %s", i ? "," : "", kinds[i].cpuMs,
                      kinds[i].count, describe(kinds[i].receiverClass, kinds[i].type).c_str());
        result += text;
    }
    return result;
}

void UiStallWatch::tick() {
    const std::int64_t now = monotonicNs();
    const SchedStat sched = readSchedStat();
    const std::int64_t process = processCpuNs();
    current_.lateMs = double(now - lastNs_) / 1e6 - 1.0;
    current_.endNs = now;
    current_.sched = {sched.runNs - lastSched_.runNs, sched.waitNs - lastSched_.waitNs};
    current_.processRunNs = process - lastProcessNs_;
    if (current_.lateMs > longest_.lateMs)
        longest_ = current_;
    current_ = {};
    lastNs_ = now;
    lastSched_ = sched;
    lastProcessNs_ = process;
}

std::string UiStallWatch::longestCause() const {
    const Interval& l = longest_;
    const double wallMs = l.lateMs + 1.0;
    const double runMs = double(l.sched.runNs) / 1e6;
    const double waitMs = double(l.sched.waitNs) / 1e6;
    const double othersMs = std::max(0.0, double(l.processRunNs - l.sched.runNs) / 1e6);
    // The floor's longest wait that overlapped this one.
    double floorThenMs = 0;
    if (floor_) {
        const std::int64_t startNs = l.endNs - std::int64_t(wallMs * 1e6);
        const int count = floor_->count;
        for (int i = std::max(0, count - Floor::kLate); i < count; ++i) {
            const Floor::Late late = floor_->late[i % Floor::kLate];
            if (late.endNs >= startNs && late.endNs - std::int64_t(late.ms * 1e6) <= l.endNs)
                floorThenMs = std::max(floorThenMs, late.ms);
        }
    }
    char text[640];
    std::snprintf(text, sizeof text,
                  "%.1f ms: the UI thread ran %.1f ms (events %.1f ms, the longest %.1f ms: %s), "
                  "waited for a core %.1f ms, slept %.1f ms; the process's other threads ran "
                  "%.1f ms; the floor was late %.1f ms in that time, %.1f ms at most",
                  l.lateMs, runMs, l.eventsMs, l.longestEventMs,
                  describe(l.longestClass, l.longestType).c_str(), waitMs,
                  std::max(0.0, wallMs - runMs - waitMs), othersMs, floorThenMs, floorMs());
    return text;
}

} // namespace kavlo::bench
