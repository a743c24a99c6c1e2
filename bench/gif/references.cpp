#include "references.h"

#include "support/test_media.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kavlo::bench {

const char* const kCycleGraph = "split[a][b];[a]trim=start_frame=2:end_frame=27[f];"
                                "[b]trim=start_frame=3:end_frame=28,reverse[r];"
                                "[f][r]concat=n=2:v=1:a=0,setpts=N/30/TB";

namespace {

constexpr const char* kGifskiPackage = "gifski@1.7.1";
constexpr const char* kGifskiVersion = "gifski 1.7.1";

struct Run {
    int status = -1;
    std::string output; // standard output and error together
};

Run run(const std::string& command) {
    Run result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 512> buf;
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
        result.output.append(buf.data(), n);
    result.status = pclose(pipe);
    return result;
}

} // namespace

void palettegenGif(const fs::path& source, const fs::path& output) {
    const fs::path palette = output.string() + ".palette.png";
    test::runFfmpeg(
        {"-i", source.string(), "-vf", std::string(kCycleGraph) + ",palettegen", palette.string()});
    test::runFfmpeg({"-i", source.string(), "-i", palette.string(), "-lavfi",
                     "[0:v]" + std::string(kCycleGraph) + "[x];[x][1:v]paletteuse",
                     output.string()});
    fs::remove(palette);
}

std::optional<fs::path> findGifski(const fs::path& cache) {
    const fs::path program = cache / "node_modules" / "gifski" / "bin" / "debian" / "gifski";
    auto works = [&] {
        return fs::exists(program) && run(test::shellQuoted(program.string()) + " --version")
                                              .output.rfind(kGifskiVersion, 0) == 0;
    };
    if (works())
        return program;
    std::fprintf(stderr, "installing %s with npm into %s\n", kGifskiPackage, cache.c_str());
    fs::create_directories(cache);
    std::string command = "npm install --no-audit --no-fund --no-save --prefix ";
    command += test::shellQuoted(cache.string()) + " " + kGifskiPackage;
    const Run npm = run(command);
    if (npm.status == 0 && works())
        return program;
    std::fprintf(stderr,
                 "bench_gif: gifski is missing and npm could not install %s; its rows are left "
                 "out\n%s\n",
                 kGifskiPackage, npm.output.c_str());
    return std::nullopt;
}

std::vector<fs::path> writePngs(const std::vector<test::RgbPicture>& pictures,
                                const fs::path& dir) {
    if (pictures.empty())
        throw std::runtime_error("writePngs: no pictures");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path raw = dir / "pictures.rgb";
    {
        std::ofstream out(raw, std::ios::binary);
        for (const test::RgbPicture& p : pictures)
            out.write(reinterpret_cast<const char*>(p.rgb.data()), std::streamsize(p.rgb.size()));
        if (!out)
            throw std::runtime_error("writePngs: cannot write " + raw.string());
    }
    const std::string size =
        std::to_string(pictures.front().width) + "x" + std::to_string(pictures.front().height);
    test::runFfmpeg({"-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-i", raw.string(),
                     "-start_number", "0", (dir / "%03d.png").string()});
    fs::remove(raw);
    std::vector<fs::path> pngs;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%03d.png", int(i));
        pngs.push_back(dir / name);
    }
    return pngs;
}

void gifskiGif(const fs::path& gifski, const std::vector<fs::path>& pngs, int width, int quality,
               double framesPerSecond, const fs::path& output) {
    // Without --width gifski shrinks pictures wider than about 800.
    std::string command = test::shellQuoted(gifski.string()) + " --quiet --no-sort --quality " +
                          std::to_string(quality) + " --fps " + std::to_string(framesPerSecond) +
                          " --width " + std::to_string(width) + " -o " +
                          test::shellQuoted(output.string());
    for (const fs::path& png : pngs) {
        command += ' ';
        command += test::shellQuoted(png.string());
    }
    const Run result = run(command);
    if (result.status != 0)
        throw std::runtime_error("gifski failed: " + result.output);
}

} // namespace kavlo::bench
