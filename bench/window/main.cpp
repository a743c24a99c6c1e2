// window-bench: what the kavlo program costs the machine while a window
// only loops its preview, and how much memory it reaches exporting.
//
//   window-bench [--work DIR] [--seconds S] [--skip-4k]
//
// Runs the real program (the one built beside this benchmark) on $DISPLAY,
// or offscreen when there is none, with a 1080p camera-like clip. Once the
// first preview loops, the program's processor time over S seconds
// (default 10) is printed as a share of one core beside the 5 % target.
// Then a 4K clip is opened and exported as MP4 with 3 loops through the
// window's own controls (xdotool, on a real display only), and the
// program's peak resident memory (VmHWM) is printed.
#include "bench_support.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using kavlo::bench::makeCameraClip;

constexpr double kTargetPercent = 5.0;

// User and system time of process `pid`, in seconds.
double cpuSeconds(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name may hold spaces: fields are counted after its ")".
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

// A line of /proc/<pid>/status ("VmHWM:  123456 kB") in MiB.
double statusMiB(qint64 pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":", 0) == 0)
            return std::stod(line.substr(key.size() + 1)) / 1024.0;
    return 0;
}

bool hasFileStartingWith(const fs::path& dir, const std::string& prefix) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            return true;
    return false;
}

// Waits until the program's processor use over one second falls below
// `percent`: the load and the first preview render are over.
void waitUntilQuiet(qint64 pid, double percent, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    double before = cpuSeconds(pid);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1s);
        const double now = cpuSeconds(pid);
        if ((now - before) * 100 < percent)
            return;
        before = now;
    }
}

QProcess* startProgram(const fs::path& video, const fs::path& work) {
    auto* program = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const fs::path runtime = work / "runtime";
    const fs::path temp = work / "tmp";
    fs::create_directories(runtime);
    fs::create_directories(temp);
    fs::permissions(runtime, fs::perms::owner_all);
    // Its own instance socket and temporary files; no analytics or update
    // requests leave the machine.
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
    env.insert("TMPDIR", QString::fromStdString(temp.string()));
    env.insert("KAVLO_API_BASE_URL", "http://127.0.0.1:9");
    if (!env.contains("DISPLAY"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    program->setProcessEnvironment(env);
    program->setProgram(KAVLO_PROGRAM);
    program->setArguments({QString::fromStdString(video.string())});
    program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program->start();
    if (!program->waitForStarted()) {
        std::fprintf(stderr, "could not start %s\n", KAVLO_PROGRAM);
        std::exit(1);
    }
    return program;
}

void stop(QProcess* program) {
    program->terminate();
    if (!program->waitForFinished(5000))
        program->kill();
    program->waitForFinished();
    delete program;
}

void loopingCost(const fs::path& video, const fs::path& work, double seconds) {
    fs::remove_all(work / "tmp");
    QProcess* program = startProgram(video, work);
    const qint64 pid = program->processId();
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!hasFileStartingWith(work / "tmp", "kavlo-preview-") &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    waitUntilQuiet(pid, 50, 120s);
    std::this_thread::sleep_for(2s);
    const double before = cpuSeconds(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = kavlo::bench::seconds(std::chrono::steady_clock::now() - t0);
    const double percent = (cpuSeconds(pid) - before) / wall * 100;
    std::printf("looping a 1080p preview for %.0f s: %5.1f %% of one core  (target %.0f %%: %s)\n",
                wall, percent, kTargetPercent, percent <= kTargetPercent ? "ok" : "OVER");
    std::printf("  resident memory meanwhile: %.0f MiB\n", statusMiB(pid, "VmRSS"));
    stop(program);
}

// Presses Export as MP4 > 3 loops in the program's window and Enter in its
// save panel, then waits for the export's file.
void exportPeak(const fs::path& video, const fs::path& work) {
    if (!std::getenv("DISPLAY") || kavlo::bench::run("command -v xdotool >/dev/null") != 0) {
        std::printf("4K export peak: skipped (needs $DISPLAY and xdotool)\n");
        return;
    }
    const fs::path exported = video.parent_path() / (video.stem().string() + "-kavlo.mp4");
    fs::remove(exported);
    QProcess* program = startProgram(video, work);
    const qint64 pid = program->processId();
    waitUntilQuiet(pid, 50, 300s);
    const double loaded = statusMiB(pid, "VmHWM");
    // The window's top-left corner, then the menu at its bottom right.
    const std::string window =
        "$(xdotool search --sync --pid " + std::to_string(pid) + " --name Kavlo | tail -1)";
    kavlo::bench::run("w=" + window +
                      "; eval $(xdotool getwindowgeometry --shell $w);"
                      " xdotool windowactivate --sync $w;"
                      " xdotool mousemove $((X+WIDTH-170)) $((Y+HEIGHT-35)) click 1; sleep 0.5;"
                      " xdotool key Down Down Down Return; sleep 1.5; xdotool key Return");
    const auto deadline = std::chrono::steady_clock::now() + 600s;
    while (!fs::exists(exported) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(200ms);
    waitUntilQuiet(pid, 50, 600s);
    std::printf("4K export (3 loops): peak resident memory %.0f MiB (%.0f MiB after the load "
                "and the first preview)%s\n",
                statusMiB(pid, "VmHWM"), loaded, fs::exists(exported) ? "" : "  EXPORT NOT SEEN");
    stop(program);
}

} // namespace

int main(int argc, char** argv) {
    fs::path work = "/tmp/kavlo-bench";
    double seconds = 10;
    bool skip4k = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--work" && i + 1 < argc)
            work = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (arg == "--skip-4k")
            skip4k = true;
        else {
            std::fprintf(stderr, "usage: window-bench [--work DIR] [--seconds S] [--skip-4k]\n");
            return 2;
        }
    }
    fs::create_directories(work);
    const fs::path hd = work / "camera-1080p30.mp4";
    makeCameraClip(hd, "1920x1080", 30, 12);
    loopingCost(hd, work / "window-bench", seconds);
    if (!skip4k) {
        const fs::path uhd = work / "window-bench-2160p30.mp4";
        makeCameraClip(uhd, "3840x2160", 30, 6);
        exportPeak(uhd, work / "window-bench");
    }
    return 0;
}
