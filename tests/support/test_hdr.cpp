#include "support/test_hdr.h"

#include "support/test_media.h"

#include <cstdlib>
#include <stdexcept>

namespace kavlo::test {

namespace fs = std::filesystem;

fs::path makeHdrClip(const fs::path& path, HdrTransfer transfer, const std::string& lavfi,
                     int frames) {
    const std::string trc = transfer == HdrTransfer::pq ? "smpte2084" : "arib-std-b67";
    const std::string filters =
        "setparams=color_primaries=bt709:color_trc=bt709:colorspace=bt709:range=pc,"
        "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt2020,zscale=t=" +
        trc + ":npl=203:m=bt2020nc:r=tv,format=yuv420p10le";
    generateMedia({"-f", "lavfi", "-i", lavfi, "-frames:v", std::to_string(frames), "-vf", filters,
                   "-c:v", "libx265", "-preset", "ultrafast", "-crf", "8", "-x265-params",
                   "log-level=error:colorprim=bt2020:transfer=" + trc +
                       ":colormatrix=bt2020nc:max-cll=1000,400:master-display="
                       "G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50)",
                   "-tag:v", "hvc1", path.string()});
    return path;
}

std::vector<RgbPicture> toneMappedByFfmpeg(const fs::path& clip, int frames,
                                           const fs::path& scratch) {
    runFfmpeg({"-i", clip.string(), "-frames:v", std::to_string(frames), "-vf",
               "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
               "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p,"
               "scale=in_color_matrix=bt709:in_range=tv,format=rgb24",
               "-f", "rawvideo", scratch.string()});
    const std::string bytes = readFile(scratch);
    // The picture size, from the clip itself.
    const DecodedVideo video = decodeVideo(clip);
    if (video.frames.empty())
        throw std::runtime_error("no frames in " + clip.string());
    const int width = video.frames[0].width, height = video.frames[0].height;
    const std::size_t size = std::size_t(width) * height * 3;
    std::vector<RgbPicture> pictures;
    for (std::size_t at = 0; at + size <= bytes.size(); at += size)
        pictures.push_back(
            {width, height, std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size)});
    return pictures;
}

double meanAbsoluteDifference(const RgbPicture& a, const RgbPicture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        throw std::invalid_argument("pictures of different sizes");
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    return sum / double(a.rgb.size());
}

} // namespace kavlo::test
