#include "render/final_mp4.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/muxer.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kavlo {

namespace {

// A track's presentation length in its own time base, as its container
// states it.
int64_t trackDuration(const InputFile& file, int streamIndex) {
    const AVStream* st = file.stream(streamIndex);
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return st->duration;
    return std::max<int64_t>(std::llround(file.info().durationSeconds / av_q2d(st->time_base)), 0);
}

// The audio packets that present [start, start + length) of the track (in
// its time base), retimed so that `start` is time zero. Packets before the
// cut are kept from one packet before the one holding it: an AAC frame is
// only right when the decoder has seen the frame before it. The retimed
// first packets have negative times; the MP4 muxer turns that into an edit
// list whose start lies inside a packet.
std::vector<av::PacketPtr> cutAudio(InputFile& file, int streamIndex, int64_t start,
                                    int64_t length) {
    std::vector<av::PacketPtr> all;
    av::PacketPtr packet = av::allocPacket();
    while (file.readPacket(packet.get(), streamIndex)) {
        // Without a time a packet has no place on the new timeline.
        if (packet->pts == AV_NOPTS_VALUE)
            continue;
        all.push_back(std::move(packet));
        packet = av::allocPacket();
    }
    std::size_t first = all.size();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->pts + all[i]->duration > start) {
            first = i;
            break;
        }
    }
    if (first > 0)
        --first;

    std::vector<av::PacketPtr> cut;
    for (std::size_t i = first; i < all.size(); ++i) {
        AVPacket* p = all[i].get();
        const int64_t pts = p->pts - start;
        if (pts >= length)
            break;
        // Skip and discard marks belong to the old timeline; the new edit
        // list says what to present.
        av_packet_free_side_data(p);
        p->flags &= ~AV_PKT_FLAG_DISCARD;
        p->pts = pts;
        p->dts = p->dts == AV_NOPTS_VALUE ? pts : p->dts - start;
        p->pos = -1;
        // The last packet's duration ends the track where the video ends.
        if (pts + p->duration > length)
            p->duration = length - pts;
        cut.push_back(std::move(all[i]));
    }
    return cut;
}

} // namespace

void assembleFinalMP4(const std::filesystem::path& videoPath,
                      const std::filesystem::path& audioPath,
                      const std::filesystem::path& outputPath, SampleTime alignmentOffset) {
    removeFileIfExists(outputPath);
    InputFile video(videoPath.string());
    InputFile audio(audioPath.string());

    if (!video.info().video)
        throw kavloError(kVideoTrackPrepareFailed, "Could not prepare video track.");
    const int videoIndex = video.info().video->streamIndex;
    const AVStream* videoStream = video.stream(videoIndex);
    const AVRational videoBase = videoStream->time_base;
    const int64_t videoDuration = trackDuration(video, videoIndex);

    if (!audio.info().audio)
        throw kavloError(kAudioTrackPrepareFailed, "Could not prepare audio track.");
    const int audioIndex = audio.info().audio->streamIndex;
    const AVStream* audioStream = audio.stream(audioIndex);
    const AVRational audioBase = audioStream->time_base;
    const int64_t offset =
        av_rescale_q(alignmentOffset.frames, {1, alignmentOffset.sampleRate}, audioBase);
    const int64_t available = trackDuration(audio, audioIndex) - offset;
    if (available <= 0)
        throw kavloError(kAudioAlignFailed, "Could not align audio loop.");
    const int64_t audioLength =
        std::min(available, av_rescale_q(videoDuration, videoBase, audioBase));
    std::vector<av::PacketPtr> audioPackets = cutAudio(audio, audioIndex, offset, audioLength);

    Muxer muxer(outputPath.string(), "mp4", /*fastStart=*/true);
    // Edit list durations count in the movie's timescale; at the default
    // millisecond the audio track would end up to a millisecond early.
    const int audioRate = audioStream->codecpar->sample_rate;
    muxer.setOption("movie_timescale",
                    std::to_string(audioRate > 0 ? audioRate : alignmentOffset.sampleRate));
    const int videoOut = muxer.addStream(videoStream->codecpar, videoBase);
    const int audioOut = muxer.addStream(audioStream->codecpar, audioBase);
    // The picture keeps whatever orientation the video file gives it.
    std::size_t matrixSize = 0;
    if (const uint8_t* matrix =
            av_stream_get_side_data(videoStream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize)) {
        uint8_t* copy =
            av_stream_new_side_data(muxer.stream(videoOut), AV_PKT_DATA_DISPLAYMATRIX, matrixSize);
        if (!copy)
            throw std::bad_alloc();
        std::copy_n(matrix, matrixSize, copy);
    }
    try {
        muxer.begin();
    } catch (const Error&) {
        throw kavloError(kFinalMp4CreateFailed, "Could not create final MP4.");
    }

    // Written in time order, so the muxer holds back only a packet or two.
    std::size_t nextAudio = 0;
    auto writeAudioUntil = [&](int64_t dts, AVRational base) {
        while (nextAudio < audioPackets.size() &&
               (dts == AV_NOPTS_VALUE ||
                av_compare_ts(audioPackets[nextAudio]->dts, audioBase, dts, base) <= 0))
            muxer.write(audioPackets[nextAudio++].get(), audioOut);
    };
    av::PacketPtr packet = av::allocPacket();
    bool wroteVideo = false;
    while (video.readPacket(packet.get(), videoIndex)) {
        writeAudioUntil(packet->dts, videoBase);
        packet->pos = -1;
        muxer.write(packet.get(), videoOut);
        wroteVideo = true;
    }
    if (!wroteVideo)
        throw kavloError(kFinalMp4FinishFailed, "Could not finish final MP4.");
    writeAudioUntil(AV_NOPTS_VALUE, audioBase);
    muxer.finish();
}

} // namespace kavlo
