// The error codes of every domain: one table for every module. Each
// (domain, code) has one meaning.
//
// Analytics reports a failure by its domain and code alone (failureReason in
// analytics/event_catalog.h): "FFmpeg" is "media", "QtNetwork" is "network",
// "Kavlo" with code 12 ("No video track found.") is "no_video_track", and
// everything else is "unknown". The server already sorts failures by those
// reasons, so a number is never renamed or reused. New codes go at the end.
//
// Domain "Kavlo". "reason" is what a failure event reports.
//
// code  message                                      raised by                    reason
//  1    "No video track"                             every export                 unknown
//  3    "Could not write video frame."               the H.264 writer             unknown
//  4    "Not enough frames in selected segment"      every export                 unknown
//  5    "Could not read video frames"                the renderer's frame reader  unknown
//  6    "Video frame read failed"                    the renderer's frame reader  unknown
//  7    "Could not create GIF file"                  renderPingPongGIF            unknown
//  8    "Could not render GIF frame"                 renderPingPongGIF            unknown
//  9    "Could not finish GIF file"                  renderPingPongGIF            unknown
// 10    "This format is not readable by Kavlo, and ffmpeg was not found for
//       conversion."                                 the load (conversion)        unknown
// 11    "Converted file could not be opened."        the load (conversion)        unknown
// 12    "No video track found."                      the load; both players       no_video_track
// 13    "Audio read failed."                         the renderer's sound reader  unknown
// 14-19 the renderer's sound writer, no longer raised: its failures are
//       FFmpeg's own, with FFmpeg's message. Never reused.
// 20    "Could not prepare video track."             the final MP4 assembly       unknown
// 21    "Could not prepare audio track."             the final MP4 assembly       unknown
// 22    "Could not create final MP4."                the final MP4 assembly       unknown
// 23    "Could not finish final MP4."                the final MP4 assembly       unknown
// 24    "Could not build audio loop."                the renderer's sound loop    unknown
// 25    "Could not align audio loop."                the final MP4 assembly       unknown
// 26    "The video cannot be saved over its own source. Choose another name."
//                                                    every export                 unknown
// 27    "No video frames found."                     both players                 unknown
// 28    "No audio track found."                      the preview player (it then  unknown
//                                                    plays without sound)
// 29    "The video's picture (WxH pixels) is larger than Kavlo can handle (at
//       most 8192x4320 pixels)."                     opening any file             unknown
// 30    "This selection needs about N GB of memory to render, but only M GB
//       is free. Choose a shorter selection."        every export                 unknown
// 31    "Could not save in “folder”: <reason>."      every export                 unknown
// 32    "There is not enough free disk space to write the file."
//                                                    every writer                 unknown
// 33    "Could not read audio format."               the renderer's sound reader  unknown
// 34    "Could not read audio."                      the renderer's sound reader  unknown
// 35    "Could not decode audio samples."            the renderer's sound reader  unknown
// 36    "Could not create WebP file"                 renderPingPongWebP           unknown
// 37    "Could not encode WebP frame"                renderPingPongWebP           unknown
// 38    "Could not finish WebP file"                 renderPingPongWebP           unknown
//
// Codes 10 to 12 once also meant the renderer's sound failures now at 33 to
// 35; a failed sound read was reported as "no_video_track".
//
// Domain "Converter": a run of the external ffmpeg that a load's conversion
// starts (session/ffmpeg_process.h). Every code reports "unknown".
//
// code    meaning                             message
// 1..255  it stopped with this exit status    its error output, trimmed, or "ffmpeg
//                                             stopped with exit status N."
// -N      it was killed by signal N           "ffmpeg was killed by signal N."
// 256     it could not be started             "ffmpeg could not be started: <reason>"
//
// Domain "FFmpeg": a failure inside the FFmpeg libraries; the code is the
// AVERROR value ("media"). Domain "QtNetwork": the HTTP client ("network").
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
    kAudioFormatUnreadable = 33,
    kAudioUnreadable = 34,
    kAudioSamplesUndecodable = 35,
    kAudioReadFailed = 13,
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
    kWebpCreateFailed = 36,
    kWebpFrameFailed = 37,
    kWebpFinishFailed = 38,

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

// The codes of the "Converter" domain beside the exit statuses and the
// negated signal numbers.
enum ConverterErrorCode : int {
    kConverterNotStarted = 256,
};

// The code of a converter that stopped with exit status `status` (1 to 255),
// and of one killed by signal `signal`.
constexpr int converterExitCode(int status) {
    return status;
}
constexpr int converterSignalCode(int signal) {
    return -signal;
}

} // namespace kavlo
