#include "bench_support.h"

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>

namespace kavlo::bench {

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void makeCameraClip(const fs::path& path, const std::string& size, int rate, double seconds) {
    if (fs::exists(path))
        return;
    std::fprintf(stderr, "generating %s ...\n", path.c_str());
    const std::string partial = path.string() + ".tmp.mp4";
    const std::string cmd =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=s=" + size +
        ":r=" + std::to_string(rate) +
        " -f lavfi -i \"aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000\"" + " -t " +
        std::to_string(seconds) + " -c:v libx264 -preset veryfast -crf 20 -g " +
        std::to_string(2 * rate) + " -pix_fmt yuv420p -c:a aac -b:a 128k " + partial + " && mv " +
        partial + " " + path.string();
    if (run(cmd) != 0) {
        std::fprintf(stderr, "could not generate %s\n", path.c_str());
        std::exit(1);
    }
}

} // namespace kavlo::bench
