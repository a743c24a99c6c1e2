#include "session/playable_source.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "media/decoded_stream.h"
#include "media/error.h"
#include "media/file_util.h"
#include "media/input_file.h"
#include "media/temporary_file.h"
#include "session/ffmpeg_process.h"
#include "session/file_paths.h"

#include <QFile>

#include <algorithm>
#include <system_error>

namespace kavlo {

namespace fs = std::filesystem;

namespace {

QString argumentText(const fs::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

bool isTextSafe(const fs::path& path) {
    const QByteArray bytes = QByteArray::fromStdString(path.native());
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Absolute, so that no argument made from it can read as an option.
fs::path temporaryDirectory(const ConversionSettings& settings) {
    return fs::absolute(settings.tempDir.empty() ? fs::temp_directory_path() : settings.tempDir);
}

// The opened file as the converter's command line can name it. Arguments
// travel as text, which cannot hold a name that is not valid UTF-8; such a
// file is handed over through a symbolic link with a plain name, removed
// when the run is over.
class ConverterInput {
  public:
    ConverterInput(const fs::path& file, const fs::path& tempDir) {
        std::error_code ec;
        fs::path absolute = fs::absolute(file, ec);
        if (ec)
            absolute = file;
        if (isTextSafe(absolute)) {
            text_ = argumentText(absolute);
            return;
        }
        const fs::path extension = file.extension();
        link_ = tempDir / ("kavlo-input-" + newUuid() +
                           (isTextSafe(extension) ? extension.native() : std::string()));
        fs::create_symlink(absolute, link_);
        text_ = argumentText(link_);
    }
    ~ConverterInput() {
        if (!link_.empty())
            removeFileQuietly(link_);
    }
    ConverterInput(const ConverterInput&) = delete;
    ConverterInput& operator=(const ConverterInput&) = delete;

    const QString& text() const { return text_; }

  private:
    QString text_;
    fs::path link_;
};

// The opened file's duration, when the media layer reads that much of it;
// 0 otherwise.
double knownDuration(const fs::path& file) {
    try {
        return probeMedia(file.native()).durationSeconds;
    } catch (const Error&) {
        return 0;
    }
}

// Runs one conversion into a new "kavlo-source-<UUID>.mp4", held from
// before the converter writes into it; whatever ends the run other than a
// readable result (a failure, an unreadable file, a throwing check) lets
// go of it, which deletes it.
std::shared_ptr<const HeldFile> convert(const fs::path& ffmpeg, const QString& input,
                                        QStringList (*arguments)(const QString&, const QString&),
                                        const fs::path& tempDir, std::stop_token stop,
                                        const std::function<void(double)>& position = {}) {
    auto output =
        std::make_shared<const HeldFile>(tempDir / ("kavlo-source-" + newUuid() + ".mp4"));
    QStringList list = arguments(input, argumentText(output->path()));
    if (position)
        for (const QString& argument : progressArguments())
            list.insert(list.size() - 1, argument);
    runFFmpeg(ffmpeg, list, stop, position);
    if (hasDecodableVideo(output->path()))
        return output;
    return nullptr;
}

} // namespace

bool hasDecodableVideo(const fs::path& file) {
    try {
        InputFile input(file.native());
        const auto& video = input.info().video;
        if (!video)
            return false;
        checkVideoDecodable(input);
        return true;
    } catch (const Error& e) {
        // Converting cannot make a picture smaller, nor read a file that is
        // not there or not readable: say so instead.
        if ((e.domain() == kKavloDomain && e.code() == kPictureTooLarge) || isUnreadableFile(e))
            throw;
        return false;
    }
}

QStringList containerCopyArguments(const QString& input, const QString& output) {
    return {"-y",    "-hide_banner", "-loglevel", "error", "-i",        input,        "-map",
            "0:v:0", "-an",          "-c:v",      "copy",  "-movflags", "+faststart", output};
}

QStringList reencodeArguments(const QString& input, const QString& output) {
    return {"-y",    "-hide_banner", "-loglevel", "error",     "-i",         input,      "-map",
            "0:v:0", "-an",          "-c:v",      "libx264",   "-preset",    "veryfast", "-crf",
            "14",    "-pix_fmt",     "yuv420p",   "-movflags", "+faststart", output};
}

PlayableSource resolvePlayableSource(const fs::path& file, const StatusCallback& status,
                                     std::stop_token stop, const ConversionSettings& settings) {
    throwIfCancelled(stop);
    if (hasDecodableVideo(file))
        return {file, std::nullopt, nullptr};
    throwIfCancelled(stop);

    const std::optional<fs::path> ffmpeg = locateFFmpeg(
        settings.ffmpegCandidates.empty() ? defaultFFmpegCandidates() : settings.ffmpegCandidates);
    if (!ffmpeg)
        throw kavloError(kConverterNotFound, "This format is not readable by Kavlo, and ffmpeg "
                                             "was not found for conversion.");
    const fs::path tempDir = temporaryDirectory(settings);
    const ConverterInput input(file, tempDir);

    if (status)
        status(QStringLiteral("Converting unsupported container..."));
    std::shared_ptr<const HeldFile> copy;
    try {
        copy = convert(*ffmpeg, input.text(), containerCopyArguments, tempDir, stop);
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception&) {
        // The copy only decides whether the re-encode is needed.
    }
    if (copy)
        return {copy->path(), copy->path(), copy};
    throwIfCancelled(stop);

    if (status)
        status(QStringLiteral("Converting unsupported codec..."));
    std::function<void(double)> position;
    if (const double duration = knownDuration(file); settings.progress && duration > 0)
        position = [&settings, duration](double seconds) {
            settings.progress(std::clamp(seconds / duration, 0.0, 1.0));
        };
    std::shared_ptr<const HeldFile> encoded;
    try {
        encoded = convert(*ffmpeg, input.text(), reencodeArguments, tempDir, stop, position);
    } catch (const ConverterError& e) {
        // The converter names its input by the path it was given, which may
        // be a link of ours; the user knows the file by its name.
        if (e.domain() != kConverterDomain || input.text().isEmpty())
            throw;
        throw ConverterError(kConverterDomain, e.code(),
                             QString::fromStdString(e.message())
                                 .replace(input.text(), displayName(file))
                                 .toStdString());
    }
    if (!encoded)
        throw kavloError(kConvertedFileUnreadable, "Converted file could not be opened.");
    return {encoded->path(), encoded->path(), encoded};
}

} // namespace kavlo
