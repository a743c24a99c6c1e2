#include "render/final_mp4.h"

#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/muxer.h"
#include "media/packet.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kavlo {

namespace {

// The audio packets that present [start, start + length) of the track (in
// its time base), retimed so that `start` is time zero. Packets before the
// cut are kept from one packet before the one holding it: an AAC frame is
// only right when the decoder has seen the frame before it. The retimed
// first packets have negative times; the MP4 muxer turns that into an edit
// list whose start lies inside a packet.
std::vector<Packet> cutAudio(InputFile& file, int streamIndex, int64_t start, int64_t length) {
    std::vector<Packet> all;
    Packet packet;
    while (readPacket(file, streamIndex, packet)) {
        // Without a time a packet has no place on the new timeline.
        if (packet.pts() == Packet::kNoTime)
            continue;
        all.push_back(std::move(packet));
        packet = Packet();
    }
    std::size_t first = all.size();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].pts() + all[i].duration() > start) {
            first = i;
            break;
        }
    }
    if (first > 0)
        --first;

    std::vector<Packet> cut;
    for (std::size_t i = first; i < all.size(); ++i) {
        Packet& p = all[i];
        const int64_t pts = p.pts() - start;
        if (pts >= length)
            break;
        // Skip and discard marks belong to the old timeline; the new edit
        // list says what to present.
        p.dropTimelineMarks();
        // The last packet's duration ends the track where the video ends.
        p.setTimes(pts, p.dts() == Packet::kNoTime ? pts : p.dts() - start,
                   std::min(p.duration(), length - pts));
        cut.push_back(std::move(p));
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
    const TrackTimes videoTimes = trackTimes(video, videoIndex);

    if (!audio.info().audio)
        throw kavloError(kAudioTrackPrepareFailed, "Could not prepare audio track.");
    const int audioIndex = audio.info().audio->streamIndex;
    const TrackTimes audioTimes = trackTimes(audio, audioIndex);
    const Rational audioBase = audioTimes.timeBase;
    const int64_t offset =
        rescale(alignmentOffset.frames, {1, alignmentOffset.sampleRate}, audioBase);
    const int64_t available = audioTimes.duration - offset;
    if (available <= 0)
        throw kavloError(kAudioAlignFailed, "Could not align audio loop.");
    const int64_t audioLength =
        std::min(available, rescale(videoTimes.duration, videoTimes.timeBase, audioBase));
    std::vector<Packet> audioPackets = cutAudio(audio, audioIndex, offset, audioLength);

    Muxer muxer(outputPath.string(), "mp4", /*fastStart=*/true);
    // Edit list durations count in the movie's timescale; at the default
    // millisecond the audio track would end up to a millisecond early.
    const int audioRate = audio.info().audio->sampleRate;
    muxer.setOption("movie_timescale",
                    std::to_string(audioRate > 0 ? audioRate : alignmentOffset.sampleRate));
    // The picture keeps whatever orientation the video file gives it.
    const int videoOut = muxer.addCopiedStream(video, videoIndex);
    const int audioOut = muxer.addCopiedStream(audio, audioIndex);
    try {
        muxer.begin();
    } catch (const Error& e) {
        // A full disk keeps its own words; anything else is this step's.
        if (e.domain() == kKavloDomain && e.code() == kDiskFull)
            throw;
        throw kavloError(kFinalMp4CreateFailed, "Could not create final MP4.");
    }

    // Written in time order, so the muxer holds back only a packet or two.
    std::size_t nextAudio = 0;
    auto writeAudioUntil = [&](int64_t dts, Rational base) {
        while (nextAudio < audioPackets.size() &&
               (dts == Packet::kNoTime ||
                compareTimes(audioPackets[nextAudio].dts(), audioBase, dts, base) <= 0))
            muxer.write(audioPackets[nextAudio++], audioOut);
    };
    Packet packet;
    bool wroteVideo = false;
    while (readPacket(video, videoIndex, packet)) {
        writeAudioUntil(packet.dts(), videoTimes.timeBase);
        muxer.write(packet, videoOut);
        wroteVideo = true;
    }
    if (!wroteVideo)
        throw kavloError(kFinalMp4FinishFailed, "Could not finish final MP4.");
    writeAudioUntil(Packet::kNoTime, audioBase);
    muxer.finish();
}

} // namespace kavlo
