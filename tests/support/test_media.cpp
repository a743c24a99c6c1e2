#include "support/test_media.h"

#include "media/av_ptr.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

namespace kavlo::test {

TempDir::TempDir() {
    std::string name = (fs::temp_directory_path() / "kavlo-test-XXXXXX").string();
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot make a temporary directory");
    path_ = name;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

void runFfmpeg(const std::vector<std::string>& args) {
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y";
    for (const auto& a : args)
        cmd.append(" ").append(shellQuoted(a));
    cmd += " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run ffmpeg");
    std::string output;
    std::array<char, 512> buf;
    while (size_t n = fread(buf.data(), 1, buf.size(), pipe))
        output.append(buf.data(), n);
    if (pclose(pipe) != 0)
        throw std::runtime_error("ffmpeg failed: " + cmd + "\n" + output);
}

void generateMedia(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i)
        if (args[i] == "-i" && (i == 0 || args[i - 1] != "lavfi"))
            return runFfmpeg(args); // reads a file: not the command's alone
    const fs::path output = args.back();
    uint64_t hash = 14695981039346656037ull; // FNV-1a over the command but its output
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        for (char c : args[i] + '\0')
            hash = (hash ^ uint8_t(c)) * 1099511628211ull;
    const fs::path cache = KAVLO_TEST_MEDIA_CACHE;
    const fs::path kept = cache / (std::to_string(hash) + output.extension().string());
    if (!fs::exists(kept)) {
        // Written under a name of its own and renamed, so processes that make
        // the same file at once never see each other's half.
        fs::create_directories(cache);
        std::vector<std::string> command = args;
        command.back() = (cache / (std::to_string(hash) + "-" + std::to_string(getpid()) + "-part" +
                                   output.extension().string()))
                             .string();
        runFfmpeg(command);
        fs::rename(command.back(), kept);
    }
    fs::copy_file(kept, output, fs::copy_options::overwrite_existing);
}

double TestClip::framesPerSecond() const {
    const auto slash = rate.find('/');
    return slash == std::string::npos
               ? std::stod(rate)
               : std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1));
}

fs::path makeIndexedVideo(const fs::path& path, const TestClip& clip) {
    // With sound, -frames:v would end the file as soon as the last picture
    // is written, cutting the sound short at a point that depends on
    // scheduling. The picture source then ends by itself instead, half a
    // frame after its last frame.
    const bool sound = !clip.audio.empty();
    const double rate = clip.framesPerSecond();
    std::ostringstream video;
    video.precision(12);
    video << "color=c=black:s=" << clip.width << "x" << clip.height << ":r=" << clip.rate;
    if (sound)
        video << ":d=" << (clip.frames - 0.5) / rate;
    video << ",format=yuv420p,geq=lum='if(lt(Y,H/2),if(bitand(N,pow(2,floor(X*16/W))),235,16),"
             "if(lt(X,W/2),235,16))':cb=128:cr=128";
    if (!clip.filter.empty())
        video << "," << clip.filter;
    std::vector<std::string> args = {"-f", "lavfi", "-i", video.str()};
    if (sound) {
        std::ostringstream audio;
        audio.precision(12);
        audio << "aevalsrc=" << clip.audio << ":s=" << clip.sampleRate
              << ":d=" << (clip.audioSeconds > 0 ? clip.audioSeconds : clip.frames / rate);
        args.insert(args.end(), {"-f", "lavfi", "-i", audio.str(), "-c:a", clip.audioCodec});
    } else {
        args.insert(args.end(), {"-frames:v", std::to_string(clip.frames)});
    }
    args.insert(args.end(), {"-c:v", clip.codec, "-pix_fmt", clip.pixelFormat});
    if (clip.codec == "libx264")
        args.insert(args.end(), {"-preset", clip.preset, "-crf", "10"});
    if (clip.keyframeInterval > 0)
        args.insert(args.end(), {"-g", std::to_string(clip.keyframeInterval)});
    args.insert(args.end(), clip.videoOptions.begin(), clip.videoOptions.end());
    if (!clip.container.empty())
        args.insert(args.end(), {"-f", clip.container});
    args.push_back(path.string());
    generateMedia(args);
    return path;
}

const fs::path& sharedClip(const std::string& name, const TestClip& clip) {
    static const TempDir dir;
    static std::map<std::string, fs::path> made;
    auto it = made.find(name);
    if (it == made.end())
        it = made.emplace(name, makeIndexedVideo(dir / name, clip)).first;
    return it->second;
}

namespace {

void check(int ret, const char* what) {
    if (ret < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(ret, text, sizeof text);
        throw std::runtime_error(std::string(what) + ": " + text);
    }
}

} // namespace

void remuxWithDisplayMatrix(const fs::path& in, const fs::path& out, int a, int b, int c, int d) {
    AVFormatContext* opened = nullptr;
    check(avformat_open_input(&opened, in.c_str(), nullptr, nullptr), "open");
    const av::InputContextPtr input(opened);
    check(avformat_find_stream_info(input.get(), nullptr), "info");
    check(avformat_alloc_output_context2(&opened, nullptr, nullptr, out.c_str()), "output");
    const av::OutputContextPtr output(opened);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* st = avformat_new_stream(output.get(), nullptr);
        check(avcodec_parameters_copy(st->codecpar, input->streams[i]->codecpar), "params");
        st->codecpar->codec_tag = 0;
        st->time_base = input->streams[i]->time_base;
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            auto* m = reinterpret_cast<int32_t*>(
                av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
            const int w = st->codecpar->width, h = st->codecpar->height;
            // The translation keeps the picture in the positive quadrant.
            const int tx = (a < 0 ? w : 0) + (c < 0 ? h : 0),
                      ty = (b < 0 ? w : 0) + (d < 0 ? h : 0);
            const int32_t matrix[9] = {a << 16, b << 16,  0,        c << 16, d << 16,
                                       0,       tx << 16, ty << 16, 1 << 30};
            std::copy_n(matrix, 9, m);
        }
    }
    check(avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE), "open out");
    check(avformat_write_header(output.get(), nullptr), "header");
    const av::PacketPtr pkt(av_packet_alloc());
    while (av_read_frame(input.get(), pkt.get()) >= 0) {
        av_packet_rescale_ts(pkt.get(), input->streams[pkt->stream_index]->time_base,
                             output->streams[pkt->stream_index]->time_base);
        pkt->pos = -1;
        check(av_interleaved_write_frame(output.get(), pkt.get()), "write");
    }
    check(av_write_trailer(output.get()), "trailer");
}

fs::path delayVideo(const fs::path& in, const fs::path& out, double seconds) {
    runFfmpeg({"-i", in.string(), "-itsoffset", std::to_string(seconds), "-i", in.string(), "-map",
               "1:v", "-map", "0:a", "-c", "copy", out.string()});
    return out;
}

fs::path makeTurnedVideo(const fs::path& dir, const TurnedClip& turn, int frames) {
    const std::string name = turn.name;
    const auto coded =
        makeIndexedVideo(dir / (name + "-coded.mp4"),
                         {.width = 96, .height = 160, .frames = frames, .filter = turn.filter});
    remuxWithDisplayMatrix(coded, dir / (name + ".mp4"), turn.a, turn.b, turn.c, turn.d);
    return dir / (name + ".mp4");
}

int readFrameIndex(const uint8_t* luma, int stride, int width, int height) {
    auto mean = [&](int x0, int y0, int x1, int y1) {
        long sum = 0, count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++count)
                sum += luma[y * stride + x];
        return count ? double(sum) / count : 0.0;
    };
    // Marker: bottom left white, bottom right black.
    if (mean(width / 8, height * 5 / 8, width * 3 / 8, height * 7 / 8) < 180 ||
        mean(width * 5 / 8, height * 5 / 8, width * 7 / 8, height * 7 / 8) > 70)
        return -1;
    int index = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int cx = (2 * bit + 1) * width / 32, half = std::max(width / 96, 1);
        const double m = mean(cx - half, height / 8, cx + half + 1, height * 3 / 8);
        if (m > 180)
            index |= 1 << bit;
        else if (m > 70)
            return -1; // neither black nor white: not an index picture
    }
    return index;
}

int readFrameIndex(const AVFrame& frame) {
    return readFrameIndex(frame.data[0], frame.linesize[0], frame.width, frame.height);
}

double decodeTrack(const fs::path& path, bool audio, const FrameCallback& onFrame) {
    AVFormatContext* opened = nullptr;
    check(avformat_open_input(&opened, path.c_str(), nullptr, nullptr), "open");
    const av::InputContextPtr fmt(opened);
    check(avformat_find_stream_info(fmt.get(), nullptr), "info");
    const int index = av_find_best_stream(
        fmt.get(), audio ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    check(index, audio ? "audio stream" : "video stream");
    const AVStream* st = fmt->streams[index];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    const av::CodecContextPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), st->codecpar);
    dec->pkt_timebase = st->time_base;
    check(avcodec_open2(dec.get(), codec, nullptr), "decoder");
    const av::PacketPtr pkt(av_packet_alloc());
    const av::FramePtr frame(av_frame_alloc());
    auto receiveAll = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
            onFrame(*st, *dec, *frame);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == index) {
            check(avcodec_send_packet(dec.get(), pkt.get()), "send");
            receiveAll();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    receiveAll();
    return fmt->start_time == AV_NOPTS_VALUE ? 0.0 : fmt->start_time / double(AV_TIME_BASE);
}

DecodedVideo decodeVideo(const fs::path& path) {
    DecodedVideo result;
    std::optional<double> lastEnd;
    auto add = [&](const AVStream& st, const AVCodecContext& dec, const AVFrame& frame) {
        if (result.frames.empty()) {
            result.trackSeconds = st.duration * av_q2d(st.time_base);
            result.hasDisplayMatrix =
                av_stream_get_side_data(&st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
            result.codec = dec.codec->name;
            if (const char* name = av_get_pix_fmt_name(dec.pix_fmt))
                result.pixelFormat = name;
            result.level = dec.level;
            result.primaries = av_color_primaries_name(frame.color_primaries);
            result.transfer = av_color_transfer_name(frame.color_trc);
            result.matrix = av_color_space_name(frame.colorspace);
        }
        ProbedFrame f;
        // A frame without any time (the last of an MPEG-PS stream) follows
        // the one before it at the track's rate.
        if (frame.best_effort_timestamp != AV_NOPTS_VALUE || result.frames.empty())
            f.time = frame.best_effort_timestamp * av_q2d(st.time_base);
        else
            f.time = result.frames.back().time + av_q2d(av_inv_q(st.avg_frame_rate));
        f.width = frame.width;
        f.height = frame.height;
        f.luma.resize(size_t(f.width) * f.height);
        // Deeper samples are kept to their top 8 bits.
        const int depth = av_pix_fmt_desc_get(AVPixelFormat(frame.format))->comp[0].depth;
        for (int y = 0; y < f.height; ++y) {
            const uint8_t* row = frame.data[0] + y * frame.linesize[0];
            uint8_t* out = f.luma.data() + size_t(y) * f.width;
            if (depth == 8)
                std::copy_n(row, f.width, out);
            for (int x = 0; depth > 8 && x < f.width; ++x)
                out[x] = uint8_t(reinterpret_cast<const uint16_t*>(row)[x] >> (depth - 8));
        }
        f.index = readFrameIndex(f.luma.data(), f.width, f.width, f.height);
        result.frames.push_back(std::move(f));
        if (st.duration == AV_NOPTS_VALUE)
            lastEnd = f.time + frame.pkt_duration * av_q2d(st.time_base);
    };
    const double start = decodeTrack(path, false, add);
    for (ProbedFrame& f : result.frames)
        f.time -= start;
    // WebM states no track durations: the track lasts as long as it shows.
    if (lastEnd && !result.frames.empty())
        result.trackSeconds = *lastEnd - start - result.frames.front().time;
    return result;
}

std::vector<int> frameIndices(const DecodedVideo& video) {
    std::vector<int> indices;
    for (const ProbedFrame& frame : video.frames)
        indices.push_back(frame.index);
    return indices;
}

namespace {

// Sample i of channel c as a float in [-1, 1], in the formats our test
// sources decode to.
float sampleValue(const AVFrame& frame, int i, int c) {
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int channels = frame.ch_layout.nb_channels;
    const uint8_t* data = frame.extended_data[planar ? c : 0];
    const int at = planar ? i : i * channels + c;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(data)[at];
    case AV_SAMPLE_FMT_DBL:
        return float(reinterpret_cast<const double*>(data)[at]);
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t*>(data)[at] / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return float(reinterpret_cast<const int32_t*>(data)[at] / 2147483648.0);
    default:
        throw std::runtime_error("unexpected sample format");
    }
}

} // namespace

DecodedAudio decodeAudio(const fs::path& path) {
    DecodedAudio result;
    bool statesDuration = true;
    auto add = [&](const AVStream& st, const AVCodecContext& dec, const AVFrame& frame) {
        statesDuration = st.duration != AV_NOPTS_VALUE;
        const int channels = frame.ch_layout.nb_channels;
        if (result.samples.empty()) {
            result.sampleRate = frame.sample_rate;
            result.channels = channels;
            result.codec = dec.codec->name;
            char layout[64] = {};
            av_channel_layout_describe(&frame.ch_layout, layout, sizeof layout);
            result.layout = layout;
            result.trackSeconds = st.duration * av_q2d(st.time_base);
            result.firstSampleSeconds = frame.best_effort_timestamp * av_q2d(st.time_base);
        }
        for (int i = 0; i < frame.nb_samples; ++i)
            for (int c = 0; c < channels; ++c)
                result.samples.push_back(sampleValue(frame, i, c));
    };
    result.firstSampleSeconds -= decodeTrack(path, true, add);
    // WebM states no track durations: the track lasts as long as it plays.
    if (!statesDuration && result.sampleRate > 0)
        result.trackSeconds = double(result.frameCount()) / result.sampleRate;
    return result;
}

double toneAmplitude(const DecodedAudio& audio, int channel, double centreSeconds,
                     double windowSeconds, double hz) {
    const int64_t n = std::llround(windowSeconds * audio.sampleRate);
    const int64_t first =
        std::llround((centreSeconds - audio.firstSampleSeconds) * audio.sampleRate) - n / 2;
    if (first < 0 || first + n > audio.frameCount())
        throw std::out_of_range("window outside the decoded audio");
    double re = 0, im = 0, weights = 0;
    for (int64_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / n);
        const double phase = 2 * M_PI * hz * double(first + i) / audio.sampleRate;
        const double x = w * audio.at(first + i, channel);
        re += x * std::cos(phase);
        im -= x * std::sin(phase);
        weights += w;
    }
    return 2 * std::hypot(re, im) / weights;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> fileNamesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool indexAtFront(const fs::path& path) {
    // Neither name turns up earlier by chance: 'ftyp' holds only brands, and
    // whichever box comes next names itself before any media data.
    const std::string bytes = readFile(path);
    const auto moov = bytes.find("moov");
    return moov != std::string::npos && moov < bytes.find("mdat");
}

} // namespace kavlo::test
