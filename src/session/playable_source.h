// Making sure a file can be played before a load reads it: a file the media
// layer cannot decode is converted with ffmpeg into a temporary MP4, first
// by copying its video stream into a new container, then, if that is still
// not readable, by re-encoding the video as H.264. Sound is dropped by both.
//
// Blocking; meant for a worker thread. Status texts are handed to the
// callback on that thread.
#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace kavlo {

class HeldFile;

struct PlayableSource {
    // The file to read: the opened file, or its converted copy.
    std::filesystem::path playableURL;
    // The converted copy; nothing when no conversion was needed.
    std::optional<std::filesystem::path> transcodedURL;
    // Holds the converted copy against sweeps; the copy is deleted when the
    // last PlayableSource holding it goes, so a result dropped anywhere on
    // its way leaves no file behind.
    std::shared_ptr<const HeldFile> transcoded;
};

struct ConversionSettings {
    // Where to look for ffmpeg; empty: defaultFFmpegCandidates().
    std::vector<std::filesystem::path> ffmpegCandidates;
    // Where converted copies go; empty: the system's temporary directory.
    std::filesystem::path tempDir;
    // The re-encode's progress, 0...1 against the opened file's duration
    // (when the media layer can read it), on the converting thread.
    std::function<void(double fraction)> progress;
};

using StatusCallback = std::function<void(const QString& status)>;

// True when the media layer opens the file and finds a video track whose
// decoder exists and opens. Throws what no conversion would mend: Error code
// kPictureTooLarge for a picture larger than Kavlo handles, and the media
// layer's error for a file that is missing or may not be read.
bool hasDecodableVideo(const std::filesystem::path& file);

// The converter's two argument lists.
QStringList containerCopyArguments(const QString& input, const QString& output);
QStringList reencodeArguments(const QString& input, const QString& output);

// A readable file comes back as it is, without looking for ffmpeg. Otherwise:
// "Converting unsupported container..." and the container copy into
// "kavlo-source-<UUID>.mp4" in the temporary directory; when that fails or
// is still unreadable, its file is deleted, then "Converting unsupported
// codec..." and the re-encode into another such file. Throws:
//  - kConverterNotFound when a conversion is needed and no ffmpeg is found
//    (before any status text);
//  - the re-encode's failure as runFFmpeg throws it, with the path the
//    converter was given to read shown as the file's name (its partial
//    output is deleted); the container copy's failure is never reported;
//  - kConvertedFileUnreadable when the re-encoded file is not readable
//    either (it is deleted);
//  - Cancelled when `stop` is requested: a running converter is killed and
//    its file deleted.
PlayableSource resolvePlayableSource(const std::filesystem::path& file,
                                     const StatusCallback& status, std::stop_token stop = {},
                                     const ConversionSettings& settings = {});

} // namespace kavlo
