// The sound that follows the picture: every output sample is taken, by
// interpolation, from the source position that the ping-pong video shows at
// that instant. Forward runs play the segment forward, backward runs play it
// time-reversed, and the speed factor changes rate and pitch with the
// picture. The position moves continuously and turns round exactly where the
// picture does, so turns need no crossfade and nothing is spliced.
#pragma once

#include "render/audio_reader.h"
#include "render/render_types.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <stop_token>
#include <vector>

namespace kavlo {

// A position or length counted in sample frames at a whole-number rate.
// Kept as a count so that offsets stay exact where seconds would round.
struct SampleTime {
    int64_t frames = 0;
    int sampleRate = 1;
    double seconds() const { return double(frames) / sampleRate; }
};

// Where the loop sits in the written audio (all in sample frames). The
// written audio is the loop with a circular lead-in before it (the loop's own
// last `lead` frames) and a tail after it that carries on from the loop's
// start. The lead-in lets the encoder settle and gives the decoder the
// packet of history it needs at the cut; the tail does the same at the end,
// so a player that loops the file does not click at the join.
struct AudioLoopLayout {
    int64_t loop = 1; // T: the loop, as long as the video
    int64_t lead = 0; // min(2112, T - 1)
    int64_t tail = 0; // 1984 when T > 1
    int64_t total() const { return lead + loop + tail; }
};

// T = max(round(sampleRate * sequenceLength / outputRate), 1): as long as the
// video, at any output rate (outputRate is at least 0.01).
AudioLoopLayout audioLoopLayout(double sampleRate, std::size_t sequenceLength, double outputRate);

// Receives `interleaved.size() / channelCount` consecutive frames of the
// written audio, the first of them frame `firstFrame`.
using AudioChunkSink = std::function<void(std::span<const float> interleaved, int64_t firstFrame)>;

inline constexpr int kAudioLoopChunkFrames = 4096;

// Computes the written audio (see AudioLoopLayout) for the ping-pong
// `sequence` written at `outputRate` frames per second from frames sampled at
// `frameRate`, and hands it to `sink` in chunks of 4096 frames. Positions
// beyond the end of the segment's sound hold its last frame. Reports the
// fraction of frames written after each chunk.
//
// Returns the alignment offset: where the loop starts in the written audio,
// that is `lead` frames. Throws Error code 24 when the sequence is empty and
// Cancelled when `stop` is requested (checked once per chunk).
SampleTime writeAudioLoop(const SegmentAudio& audio, const std::vector<int>& sequence,
                          double frameRate, double outputRate, const AudioChunkSink& sink,
                          const ProgressCallback& progress, std::stop_token stop = {});

// Writes the audio loop as an AAC file (".m4a", FFmpeg's own AAC encoder at
// 128000 bit/s, the rate and channels of `audio`) at `path`, overwriting any
// file there in place, and returns the alignment offset as writeAudioLoop does. The
// file's timeline hides the encoder's priming samples, so the offset counts
// from the first frame the encoder was given. Errors: see writeAudioLoop and
// AacFileWriter.
SampleTime writeAudioLoopFile(const SegmentAudio& audio, const std::vector<int>& sequence,
                              double frameRate, double outputRate,
                              const std::filesystem::path& path, const ProgressCallback& progress,
                              std::stop_token stop = {});

} // namespace kavlo
