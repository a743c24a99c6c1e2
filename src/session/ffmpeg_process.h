// Finding and running the external ffmpeg converter. Blocking functions for
// a worker thread: runFFmpeg waits for the child in place, honouring a stop
// token, and needs no event loop.
#pragma once

#include "core/error.h"

#include <QStringList>

#include <filesystem>
#include <functional>
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

// A converter run that did not end with status 0: domain "Converter", the
// code converterFailure() gives, the converter's own words as its message. A type of
// its own so that the load can tell the converter's reasons from its own.
class ConverterError : public Error {
  public:
    using Error::Error;
    explicit ConverterError(const Error& error) : Error(error) {}
};

// The arguments that make ffmpeg report its position on standard output
// ("out_time_us=..." lines), which runFFmpeg hands to its `position`
// callback. They go before the output file.
QStringList progressArguments();

// At most this much of the converter's error output is kept: its last part,
// where the reason for a failure stands.
inline constexpr qsizetype kKeptErrorOutputBytes = 64 * 1024;

// Runs `program` with `arguments` (no shell) and waits until it exits. Its
// standard error is read while it runs, so a chatty converter never blocks
// on a full pipe. Standard output is read for the converter's position
// when `position` is given (seconds of output written so far, called on
// this thread), and discarded otherwise. Exit status 0 returns.
// Throws, in the "Converter" domain (core/error_codes.h):
//  - kConverterNotStarted when the program cannot be started;
//  - a ConverterError made by converterFailure() when it stops with another
//    status or is killed. FFmpeg's log context
//    ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x55...] ") is dropped from the start of
//    each line of its error output: the words after it are the reason;
//  - Cancelled when `stop` is requested: the child is killed and waited for
//    first, so it never writes on after the caller has moved on.
void runFFmpeg(const std::filesystem::path& program, const QStringList& arguments,
               std::stop_token stop = {}, const std::function<void(double)>& position = {});

// The error of a run that was killed by signal `number` (`killed`) or
// stopped with exit status `number`, given what it wrote to its error output
// (trimmed, empty when nothing readable). A killed run is told by its signal
// alone, so that the signal number never reads as an exit status.
Error converterFailure(bool killed, int number, const QString& errorOutput);

} // namespace kavlo
