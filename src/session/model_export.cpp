// Export: from a click on an export button to a saved file. A name is
// proposed, the save panel asks where, and the selection is rendered in the
// background (MP4 or GIF) with the values it had when the panel was
// confirmed. An export is in no task slot: loading another video, editing or
// previewing does not stop it; only the end of the session does.
#include "session/model.h"

#include "core/error.h"
#include "render/render_gif.h"
#include "render/render_video.h"
#include "session/file_panels.h"
#include "session/file_paths.h"
#include "session/session_log.h"
#include "session/task_error.h"
#include "session/task_threads.h"
#include "session/ui_mailbox.h"
#include "session/video_files.h"

#include <QPointer>

namespace kavlo {

ExportDescription Model::ExportJob::description() const {
    return {.format = format, .loops = loops, .speed = speed, .loopSeconds = trimEnd - trimStart};
}

void Model::exportMP4(int loops) {
    startExport(ExportFormat::mp4, loops);
}

void Model::exportGIF() {
    startExport(ExportFormat::gif, 1);
}

void Model::startExport(ExportFormat format, int loops) {
    if (!url_ || !panels_)
        return;
    track(events::exportSelected(
        {.format = format, .loops = loops, .speed = exportSpeed_, .loopSeconds = end_ - start_}));
    const std::filesystem::path opened = originalSource_.value_or(*url_);
    const QString name = proposedExportName(opened, format);
    std::optional<std::filesystem::path> folder;
    std::error_code ec;
    if (opened != exampleVideo_)
        folder = std::filesystem::absolute(opened, ec).parent_path();
    // Modal: events run meanwhile, so everything is read again afterwards.
    const QPointer<Model> self(this);
    const std::optional<std::filesystem::path> destination =
        panels_->chooseSaveLocation(name, folder, format);
    if (!self)
        return;
    if (!destination) {
        track(events::exportSaveCanceled(format));
        return;
    }
    if (!url_)
        return; // a load began while the panel was open

    Batch batch(*this);
    const ExportJob job{.format = format,
                        .loops = loops,
                        .source = *url_,
                        .output = *destination,
                        .trimStart = start_,
                        .trimEnd = end_,
                        .speed = exportSpeed_,
                        .started = std::chrono::steady_clock::now()};
    setBusy(true);
    setProgress(0);
    setStatus(format == ExportFormat::gif ? QStringLiteral("Exporting GIF...")
                                          : QStringLiteral("Exporting MP4..."));
    track(events::exportStarted(job.description()));
    ++runningExports_;
    threads_->start([this, mailbox = mailbox_, job](std::stop_token stop) {
        const ProgressCallback progress = [&](double fraction) {
            mailbox->post([this, fraction] { setProgress(fraction); });
        };
        const bool gif = job.format == ExportFormat::gif;
        const RenderLog log({.kind = gif ? "GIF export" : "MP4 export",
                             .source = job.source,
                             .output = job.output,
                             .trimStart = job.trimStart,
                             .trimEnd = job.trimEnd,
                             .speed = job.speed,
                             .loops = gif ? 1 : job.loops,
                             .fitWithin = {}});
        std::exception_ptr error;
        try {
            log.succeeded(gif ? renderPingPongGIF(job.source, job.output, job.trimStart,
                                                  job.trimEnd, job.speed, progress, stop)
                              : renderPingPongVideo(job.source, job.output, job.trimStart,
                                                    job.trimEnd, job.speed, job.loops, progress,
                                                    stop));
        } catch (const Cancelled&) {
            log.failed(std::current_exception());
            return; // only the end of the session cancels an export
        } catch (...) {
            error = std::current_exception();
            log.failed(error);
        }
        mailbox->post([this, job, error] { exportEnded(job, error); });
    });
}

void Model::exportEnded(const ExportJob& job, std::exception_ptr error) {
    {
        Batch batch(*this);
        --runningExports_;
        setBusy(false);
        if (!error) {
            const std::chrono::duration<double> took =
                std::chrono::steady_clock::now() - job.started;
            setStatus(QStringLiteral("Saved ") + displayName(job.output));
            track(events::exportSucceeded(job.description(), took.count()));
        } else {
            withException(error, [&](const std::exception& e) {
                setStatus((job.format == ExportFormat::gif ? QStringLiteral("GIF export failed: ")
                                                           : QStringLiteral("Export failed: ")) +
                          QString::fromStdString(e.what()));
                track(events::exportFailed(job.format, e));
            });
        }
    }
    // After the state it reports is announced.
    emit exportFinished(job.output, !error);
}

} // namespace kavlo
