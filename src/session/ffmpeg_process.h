// Finding and running the external ffmpeg converter. Blocking functions for
// a worker thread: runFFmpeg waits for the child in place, honouring a stop
// token, and needs no event loop.
#pragma once

#include "core/error.h"

#include <QStringList>

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string_view>
#include <vector>

namespace kavlo {

// "ffmpeg" in each of the application's resource directories, then
// "/usr/local/bin/ffmpeg", then "/usr/bin/ffmpeg".
std::vector<std::filesystem::path> defaultFFmpegCandidates();

// The first candidate that is an executable regular file.
std::optional<std::filesystem::path>
locateFFmpeg(const std::vector<std::filesystem::path>& candidates = defaultFFmpegCandidates());

// At most this much of the converter's error output is kept: its last part,
// where the reason for a failure stands.
inline constexpr qsizetype kKeptErrorOutputBytes = 64 * 1024;

// Runs `program` with `arguments` (no shell) and waits until it exits. Its
// standard error is read while it runs, so a chatty converter never blocks
// on a full pipe; standard output is discarded. Exit status 0 returns.
// Throws, in the "Converter" domain (core/error_codes.h):
//  - kConverterNotStarted when the program cannot be started;
//  - converterFailure() when it stops with another status or is killed.
//    FFmpeg's log context ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55...] ") is
//    dropped from the start of each line of its error output: the words
//    after it are the reason;
//  - Cancelled when `stop` is requested: the child is killed and waited for
//    first, so it never writes on after the caller has moved on.
void runFFmpeg(const std::filesystem::path& program, const QStringList& arguments,
               std::stop_token stop = {});

// The error of a run that was killed by signal `number` (`killed`) or
// stopped with exit status `number`, given what it wrote to its error output
// (trimmed, empty when nothing readable). A killed run is told by its signal
// alone, so that the signal number never reads as an exit status.
Error converterFailure(bool killed, int number, const QString& errorOutput);

} // namespace kavlo
