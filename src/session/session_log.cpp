#include "session/session_log.h"

#include "core/error.h"
#include "qtutil/log_categories.h"
#include "session/file_paths.h"
#include "session/playable_source.h"
#include "session/task_error.h"
#include "session/video_probe.h"

#include <system_error>

namespace kavlo {

namespace {

QByteArray pathText(const std::filesystem::path& file) {
    return displayPath(file).toUtf8();
}

// Calls `cancelled` or `failed(e)` for what `error` holds.
template <typename Cancelled_, typename Failed>
void classify(std::exception_ptr error, Cancelled_&& cancelled, Failed&& failed) {
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled&) {
        cancelled();
    } catch (...) {
        withException(std::current_exception(), failed);
    }
}

} // namespace

QString logText(const std::exception& error) {
    QString text = QString::fromStdString(describeFailure(error));
    if (const auto* e = dynamic_cast<const Error*>(&error))
        text += QStringLiteral(" [%1 %2]").arg(QString::fromStdString(e->domain())).arg(e->code());
    return text;
}

void logLoadStarted(const std::filesystem::path& file, VideoLoadSource source) {
    qCInfo(lcLoad, "Loading %s (%s)", pathText(file).constData(),
           qUtf8Printable(sourceValue(source)));
}

void logLoadSucceeded(const std::filesystem::path& opened, const PlayableSource& playable,
                      const VideoProbe& probe) {
    qCInfo(lcLoad, "Loaded %s: %.3f s, %gx%g, %.3f fps%s%s", pathText(opened).constData(),
           probe.durationSeconds, probe.displayWidth, probe.displayHeight, probe.nominalFrameRate,
           playable.transcodedURL ? ", converted to " : "",
           playable.transcodedURL ? pathText(*playable.transcodedURL).constData() : "");
}

void logLoadFailed(const std::filesystem::path& file, std::exception_ptr error) {
    classify(
        error, [&] { qCDebug(lcLoad, "Loading %s was cancelled", pathText(file).constData()); },
        [&](const std::exception& e) {
            qCWarning(lcLoad, "Could not load %s: %s", pathText(file).constData(),
                      qUtf8Printable(logText(e)));
        });
}

RenderLog::RenderLog(Settings settings)
    : settings_(std::move(settings)), started_(std::chrono::steady_clock::now()) {
    const QString fit = settings_.fitWithin.width > 0 ? QStringLiteral(", within %1x%2")
                                                            .arg(settings_.fitWithin.width)
                                                            .arg(settings_.fitWithin.height)
                                                      : QString();
    qCInfo(lcRender, "%s of %s, %.3f-%.3f s at speed %s, %d loop(s)%s, to %s", settings_.kind,
           pathText(settings_.source).constData(), settings_.trimStart, settings_.trimEnd,
           qUtf8Printable(speedText(settings_.speed)), settings_.loops, qUtf8Printable(fit),
           pathText(settings_.output).constData());
}

void RenderLog::succeeded(const RenderResult& result) const {
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(settings_.output, ec);
    qCInfo(lcRender, "%s done in %.2f s: %d source frames at %.3f fps, %dx%d%s, %lld bytes",
           settings_.kind, elapsedSeconds(), result.sourceFrameCount, result.frameRate,
           result.size.width, result.size.height, result.reduced ? " (reduced)" : "",
           ec ? -1LL : static_cast<long long>(bytes));
}

void RenderLog::failed(std::exception_ptr error) const {
    classify(
        error,
        [&] { qCDebug(lcRender, "%s cancelled after %.2f s", settings_.kind, elapsedSeconds()); },
        [&](const std::exception& e) {
            qCWarning(lcRender, "%s failed after %.2f s: %s", settings_.kind, elapsedSeconds(),
                      qUtf8Printable(logText(e)));
        });
}

double RenderLog::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

} // namespace kavlo
