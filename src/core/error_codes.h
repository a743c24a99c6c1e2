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
// code  message                                         raised by
//  1    "No video track"                                renderPingPongVideo/GIF
//  3    "Could not write video frame."                  the H.264 writer
//  4    "Not enough frames in selected segment"         renderPingPongVideo/GIF
//  5    "Could not read video frames"                   the renderer's frame reader
//  6    "Video frame read failed"                       the renderer's frame reader
//  7    "Could not create GIF file"                     renderPingPongGIF
//  8    "Could not render GIF frame"                    renderPingPongGIF
//  9    "Could not finish GIF file"                     renderPingPongGIF
// 10    "Could not read audio format."                  the renderer's sound reader
// 10    "This format is not readable by Kavlo, and ffmpeg was not found for
//       conversion."                                    the load (conversion)
// 11    "Could not read audio."                         the renderer's sound reader
// 11    "Converted file could not be opened."           the load (conversion)
// 12    "Could not decode audio samples."               the renderer's sound reader
// 12    "No video track found."                         the load; both players
// 13    "Audio read failed."                            the renderer's sound reader
// 14-19 writing the sound loop (see the renderer)       the renderer's sound writer
// 20-23, 25  assembling the final MP4                   the renderer
// 24    "Could not build audio loop."                   the renderer's sound loop
// 26    "The video cannot be saved over its own source. Choose another name."
//                                                       renderPingPongVideo/GIF
// 27    "No video frames found."                        both players
// 28    "No audio track found."                         the preview player (it
//                                                       then plays without sound)
// 29    "The video's picture (WxH pixels) is larger than Kavlo can handle (at
//       most 8192x4320 pixels)."                        opening any file
// 30    "This selection needs about N GB of memory to render, but only M GB
//       is free. Choose a shorter selection."           renderPingPongVideo/GIF
// 31    "Could not save in “folder”: <reason>."         renderPingPongVideo/GIF
// 32    "There is not enough free disk space to write the file."
//                                                       the MP4, M4A and GIF writers
// A conversion that fails has the converter's exit status as its code.
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
