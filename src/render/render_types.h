// Types shared by the renderer's entry points.
#pragma once

#include <functional>

namespace kavlo {

// What a render read: the number of frames of the segment and the rate at
// which they were sampled. The preview keeps both to map its time back to
// source time.
struct RenderResult {
    int sourceFrameCount = 0;
    double frameRate = 0;
};

// Receives the fraction 0...1 of the work done, on the rendering thread.
using ProgressCallback = std::function<void(double)>;

// The renderer's own error codes, domain "Kavlo".
enum RenderErrorCode : int {
    kNoVideoTrack = 1,
    kVideoWriteFailed = 3,
    kNotEnoughFrames = 4,
    kFramesUnreadable = 5,
    kFrameReadFailed = 6,
    kGifCreateFailed = 7,
    kGifFrameFailed = 8,
    kGifFinishFailed = 9,
    kAudioFormatUnreadable = 10,
    kAudioUnreadable = 11,
    kAudioSamplesUndecodable = 12,
    kAudioReadFailed = 13,
    kAudioWriteRefused = 14,
    kAudioBufferAllocFailed = 15,
    kAudioBufferFillFailed = 16,
    kAudioFormatCreateFailed = 17,
    kAudioSamplesCreateFailed = 18,
    kAudioTrackWriteFailed = 19,
    kVideoTrackPrepareFailed = 20,
    kAudioTrackPrepareFailed = 21,
    kFinalMp4CreateFailed = 22,
    kFinalMp4FinishFailed = 23,
    kAudioLoopBuildFailed = 24,
    kAudioAlignFailed = 25,
};

} // namespace kavlo
