#include "targets.h"

#include "analytics/analytics_event.h"
#include "app/update_info.h"
#include "media/colour.h"
#include "media/error.h"
#include "media/input_file.h"
#include "render/audio_reader.h"
#include "render/frame_reader.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace kavlo::fuzz {

namespace {

// The bytes as a file FFmpeg opens by name, kept in memory: no disk, and
// nothing left behind however the run ends.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, std::size_t size)
        : fd_(memfd_create("kavlo-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0)
            std::abort();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += std::size_t(n);
        }
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

// Opens the bytes as a media file, or nothing when they are not one.
std::optional<InputFile> open(const MemoryFile& file) {
    try {
        return std::optional<InputFile>(std::in_place, file.path());
    } catch (const Error&) {
        return std::nullopt;
    }
}

// What a fuzzing run may hold: enough for any sane half second, far from
// libFuzzer's own limit of 2 GB.
constexpr uint64_t kMemory = uint64_t(768) << 20;

} // namespace

void probe(const uint8_t* data, std::size_t size) {
    const MemoryFile file(data, size);
    if (std::optional<InputFile> input = open(file); input && input->info().video)
        computeRenderSize(*input->info().video);
}

void segmentPictures(const uint8_t* data, std::size_t size) {
    const MemoryFile file(data, size);
    std::optional<InputFile> input = open(file);
    if (!input)
        return;
    try {
        const RenderFrames frames =
            readRenderFrames(*input, 0, 0.5, nullptr, 0.35, {}, /*fullChroma=*/true, kMemory);
        BgraConverter converter;
        std::vector<uint8_t> bgra;
        for (const Picture& picture : frames.pictures) {
            bgra.resize(std::size_t(picture.width()) * picture.height() * 4);
            converter.convert(picture, bgra.data(), picture.width() * 4);
        }
    } catch (const Error&) {
    }
}

void segmentSound(const uint8_t* data, std::size_t size) {
    const MemoryFile file(data, size);
    std::optional<InputFile> input = open(file);
    if (!input)
        return;
    try {
        if (const std::optional<SegmentAudio> audio = readSegmentAudio(*input, 0, 0.5)) {
            if (audio->channelCount < 1 || audio->samples.size() % audio->channelCount != 0)
                std::abort();
        }
    } catch (const Error&) {
    }
}

void queueFile(const uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QList<AppAnalyticsEvent>> events = decodeEvents(bytes);
    if (!events)
        return;
    // What was accepted is written back as the next save would write it,
    // and must read back the same.
    if (decodeEvents(encodeEvents(*events)) != events)
        std::abort();
}

void updateInfo(const uint8_t* data, std::size_t size) {
    const std::optional<MacUpdateInfo> update =
        decodeUpdateInfo(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!update)
        return;
    // Everything the alert shows comes from the answer as it was decoded.
    const QString message = updateAlertMessage(*update);
    if (!message.contains(update->version) || !message.endsWith(update->releaseNotes))
        std::abort();
    if (const std::optional<QUrl> url = downloadAddress(update->downloadUrl);
        url && (!url->isValid() || url->isRelative()))
        std::abort();
    // An accepted answer, written out again, reads back the same: no field
    // is rounded, cut or read from the wrong key on the way in.
    QJsonObject object{{"version", update->version},
                       {"build", update->build},
                       {"downloadUrl", update->downloadUrl},
                       {"releaseNotes", update->releaseNotes}};
    object.insert("sha256", update->sha256 ? QJsonValue(*update->sha256) : QJsonValue());
    if (decodeUpdateInfo(QJsonDocument(object).toJson()) != update)
        std::abort();
}

} // namespace kavlo::fuzz
