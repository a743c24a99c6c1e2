// Sources and timing for the benchmarks. Sources are made with the ffmpeg
// command line once and reused; nothing is downloaded.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

namespace kavlo::bench {

namespace fs = std::filesystem;

// Runs a shell command; its exit status (-1 when it did not exit).
int run(const std::string& command);

// A moving test pattern of `size` ("1920x1080") at `rate` frames per second
// with a stereo tone, H.264 with key frames two seconds apart as a camera
// writes them, and AAC; made at `path` unless it is there already. Exits
// the program when ffmpeg fails.
void makeCameraClip(const fs::path& path, const std::string& size, int rate, double seconds);

inline double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The shortest of `runs` timed calls of `f`, in seconds.
template <typename F> double bestOf(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, seconds(std::chrono::steady_clock::now() - t0));
    }
    return best;
}

} // namespace kavlo::bench
