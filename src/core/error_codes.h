// The codes of the "Kavlo" error domain: one table for every module.
//
// Analytics reports a failure by its domain and code alone (failureReason in
// analytics/event_catalog.h): "FFmpeg" is "media", "QtNetwork" is "network",
// "Kavlo" with code 12 is "no_video_track", and every other "Kavlo" code is
// "unknown". Some numbers are shared on purpose: the renderer's sound codes
// 10 to 12 and the session's load codes 10 to 12 were numbered apart and the
// server already sorts failures by them, so a number is never renamed or
// reused for a third meaning. New codes go at the end.
//
// Domain "Kavlo". "reason" is what a failure event reports.
//
// code  message                                      raised by                    reason
//  1    "No video track"                             renderPingPongVideo/GIF      unknown
//  3    "Could not write video frame."               the H.264 writer             unknown
//  4    "Not enough frames in selected segment"      renderPingPongVideo/GIF      unknown
//  5    "Could not read video frames"                the renderer's frame reader  unknown
//  6    "Video frame read failed"                    the renderer's frame reader  unknown
//  7    "Could not create GIF file"                  renderPingPongGIF            unknown
//  8    "Could not render GIF frame"                 renderPingPongGIF            unknown
//  9    "Could not finish GIF file"                  renderPingPongGIF            unknown
// 10    "Could not read audio format."               the renderer's sound reader  unknown
// 10    "This format is not readable by Kavlo, and ffmpeg was not found for
//       conversion."                                 the load (conversion)        unknown
// 11    "Could not read audio."                      the renderer's sound reader  unknown
// 11    "Converted file could not be opened."        the load (conversion)        unknown
// 12    "Could not decode audio samples."            the renderer's sound reader  no_video_track
// 12    "No video track found."                      the load; both players       no_video_track
// 13    "Audio read failed."                         the renderer's sound reader  unknown
// 14    "Could not write audio samples."             the renderer's sound writer  unknown
// 15    "Could not allocate audio buffer."           the renderer's sound writer  unknown
// 16    "Could not fill audio buffer."               the renderer's sound writer  unknown
// 17    "Could not create audio format."             the renderer's sound writer  unknown
// 18    "Could not create audio samples."            the renderer's sound writer  unknown
// 19    "Could not write audio track."               the renderer's sound writer  unknown
// 20    "Could not prepare video track."             the final MP4 assembly       unknown
// 21    "Could not prepare audio track."             the final MP4 assembly       unknown
// 22    "Could not create final MP4."                the final MP4 assembly       unknown
// 23    "Could not finish final MP4."                the final MP4 assembly       unknown
// 24    "Could not build audio loop."                the renderer's sound loop    unknown
// 25    "Could not align audio loop."                the final MP4 assembly       unknown
// 26    "The video cannot be saved over its own source. Choose another name."
//                                                    renderPingPongVideo/GIF      unknown
// 27    "No video frames found."                     both players                 unknown
// 28    "No audio track found."                      the preview player (it then  unknown
//                                                    plays without sound)
// 29    "The video's picture (WxH pixels) is larger than Kavlo can handle (at
//       most 8192x4320 pixels)."                     opening any file             unknown
// 30    "This selection needs about N GB of memory to render, but only M GB
//       is free. Choose a shorter selection."        renderPingPongVideo/GIF      unknown
// 31    "Could not save in “folder”: <reason>."      renderPingPongVideo/GIF      unknown
// 32    "There is not enough free disk space to write the file."
//                                                    the MP4, M4A and GIF writers unknown
// A conversion that fails has the converter's exit status as its code
// ("unknown"). Domain "FFmpeg" (any code) reports "media", "QtNetwork"
// reports "network".
#pragma once

namespace kavlo {

enum KavloErrorCode : int {
    // The renderer.
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
    kOutputIsSource = 26,
    kSelectionTooLarge = 30,
    kDestinationNotWritable = 31,
    kDiskFull = 32,
    // Exports with a size budget or a preset's limits.
    kBudgetUnreachable = 40,
    kCycleTooLong = 41,
    kFormatUnavailable = 42,

    // Opening any file.
    kPictureTooLarge = 29,

    // The load and its conversion.
    kConverterNotFound = 10,
    kConvertedFileUnreadable = 11,
    kNoVideoTrackFound = 12,

    // The players.
    kNoVideoFrames = 27,
    kNoAudioTrack = 28,
};

} // namespace kavlo
