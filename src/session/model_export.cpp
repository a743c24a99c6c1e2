// Export: from a click on an export button to a saved file. A name is
// proposed, the save panel asks where, and the selection is rendered in the
// background (MP4 or GIF) with the values it had when the panel was
// confirmed. An export is in no task slot: loading another video, editing or
// previewing does not stop it; only the end of the session does.
#include "session/model.h"

#include "core/error.h"
#include "render/render_export.h"
#include "render/size_budget.h"
#include "session/export_presets.h"
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
    return {.format = format,
            .loops = loops,
            .speed = speed,
            .loopSeconds = trimEnd - trimStart,
            .preset = preset ? analyticsPresetName(*preset) : QString()};
}

void Model::exportMP4(int loops) {
    startExport(ExportFormat::mp4, loops);
}

void Model::exportGIF() {
    startExport(ExportFormat::gif, 1);
}

void Model::exportPreset(const std::string& name) {
    if (const ExportPreset* preset = findPreset(sessionPresets().presets, name))
        startExport(preset->format, 1, preset);
}

void Model::exportWebP() {
    startExport(ExportFormat::webp, 1);
}

void Model::exportWebM(int loops) {
    startExport(ExportFormat::webm, loops);
}

namespace {

QString formatLabel(ExportFormat format) {
    const std::string_view title = exportFormatTitle(format);
    return QString::fromLatin1(title.data(), qsizetype(title.size()));
}

// "MP4 export", "GIF export" and so on: what the log calls a render.
const char* exportLogKind(ExportFormat format) {
    switch (format) {
    case ExportFormat::gif:
        return "GIF export";
    case ExportFormat::webp:
        return "WebP export";
    case ExportFormat::webm:
        return "WebM export";
    case ExportFormat::mp4:
        break;
    }
    return "MP4 export";
}

// "Export failed: " for MP4, "GIF export failed: " and so on for the others.
QString failurePrefix(ExportFormat format) {
    if (format == ExportFormat::mp4)
        return QStringLiteral("Export failed: ");
    return formatLabel(format) + QStringLiteral(" export failed: ");
}

} // namespace

void Model::startExport(ExportFormat format, int loops, const ExportPreset* preset) {
    if (!url_ || !panels_)
        return;
    // The table lives for the process; a copy travels with the job.
    const std::optional<ExportPreset> chosen =
        preset ? std::optional<ExportPreset>(*preset) : std::nullopt;
    const QString presetName = chosen ? analyticsPresetName(*chosen) : QString();
    track(events::exportSelected({.format = format,
                                  .loops = loops,
                                  .speed = exportSpeed_,
                                  .loopSeconds = end_ - start_,
                                  .preset = presetName}));
    const std::filesystem::path opened = originalSource_.value_or(*url_);
    const QString name = proposedExportName(opened, format);
    std::optional<std::filesystem::path> folder;
    // The bundled example lives among the program's files, whichever path
    // named it: no folder of its own is proposed.
    std::error_code ec;
    const bool example =
        !exampleVideo_.empty() && std::filesystem::equivalent(opened, exampleVideo_, ec);
    if (!example)
        folder = std::filesystem::absolute(opened, ec).parent_path();
    // Modal: events run meanwhile, so everything is read again afterwards.
    const QPointer<Model> self(this);
    const std::optional<std::filesystem::path> destination =
        panels_->chooseSaveLocation(name, folder, format);
    if (!self)
        return;
    if (!destination) {
        track(events::exportSaveCanceled(format, presetName));
        return;
    }
    if (url_ != std::optional(opened) && originalSource_ != std::optional(opened)) {
        // Another video was opened while the panel was up: the selection
        // the user meant is gone.
        Batch batch(*this);
        const Notice dropped{.kind = Notice::Kind::failed,
                             .text = QStringLiteral("%1 was not exported: another video was "
                                                    "opened while choosing where to save it.")
                                         .arg(displayName(opened)),
                             .progress = std::nullopt,
                             .file = std::nullopt};
        if (exports_.empty())
            setActivity(dropped);
        else
            exportOutcome_ = dropped;
        updateNotice();
        return;
    }

    Batch batch(*this);
    const ExportJob job{.format = format,
                        .loops = loops,
                        .source = *url_,
                        .output = *destination,
                        .trimStart = start_,
                        .trimEnd = end_,
                        .speed = exportSpeed_,
                        .started = std::chrono::steady_clock::now(),
                        .preset = chosen,
                        .id = nextTaskId_++};
    exports_[job.id] = {.format = format, .progress = 0};
    updateBusy();
    setProgress(0);
    updateNotice();
    setStatus(QStringLiteral("Exporting ") +
              (chosen ? presetChoiceTitle(*chosen) : formatLabel(format)) + QStringLiteral("..."));
    track(events::exportStarted(job.description()));
    ++runningExports_;
    const std::shared_ptr<YieldGate> gate = previewFirst_;
    threads_->start([this, mailbox = mailbox_, gate, job](std::stop_token stop) {
        // The strip's exact images wait while the export runs.
        const YieldGate::Hold first(*gate);
        const ProgressCallback progress = [&](double fraction) {
            mailbox->post([this, id = job.id, fraction] { exportProgressed(id, fraction); });
        };
        const bool oneCycle = job.format == ExportFormat::gif || job.format == ExportFormat::webp;
        const RenderLog log({.kind = exportLogKind(job.format),
                             .source = job.source,
                             .output = job.output,
                             .trimStart = job.trimStart,
                             .trimEnd = job.trimEnd,
                             .speed = job.speed,
                             .loops = oneCycle ? 1 : job.loops,
                             .fitWithin = {}});
        std::exception_ptr error;
        try {
            if (job.preset) {
                ExportRequest request = requestFor(*job.preset);
                request.source = job.source;
                request.trimStart = job.trimStart;
                request.trimEnd = job.trimEnd;
                request.speed = job.speed;
                request.loops = job.loops;
                log.succeeded(renderWithinBudget(request, job.output, progress, stop).result);
            } else {
                log.succeeded(renderExport(job.source, job.output, job.trimStart, job.trimEnd,
                                           job.speed, {.format = job.format, .loops = job.loops},
                                           progress, stop));
            }
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

void Model::exportProgressed(std::uint64_t id, double fraction) {
    const auto run = exports_.find(id);
    if (run == exports_.end())
        return;
    Batch batch(*this);
    run->second.progress = fraction;
    double sum = 0;
    for (const auto& [other, each] : exports_)
        sum += each.progress;
    // Exports own `progress` while they run; a preview's does not mix in.
    setProgress(sum / double(exports_.size()));
    updateNotice();
}

void Model::exportEnded(const ExportJob& job, std::exception_ptr error) {
    {
        Batch batch(*this);
        --runningExports_;
        exports_.erase(job.id);
        updateBusy();
        Notice outcome;
        if (!error) {
            const std::chrono::duration<double> took =
                std::chrono::steady_clock::now() - job.started;
            std::error_code ec;
            const auto bytes = std::filesystem::file_size(job.output, ec);
            // "Saved clip-kavlo.gif · 9.6 MB"
            const QString saved = QStringLiteral("Saved ") + displayName(job.output) +
                                  (ec ? QString()
                                      : QStringLiteral(" · ") +
                                            QString::fromStdString(formatFileSize(double(bytes))));
            setStatus(saved);
            outcome = {.kind = Notice::Kind::saved,
                       .text = saved,
                       .progress = std::nullopt,
                       .file = job.output};
            track(events::exportSucceeded(job.description(), took.count()));
        } else {
            withException(error, [&](const std::exception& e) {
                const QString prefix = failurePrefix(job.format);
                const QString message = QString::fromStdString(describeFailure(e));
                setStatus(prefix + message);
                outcome = {.kind = Notice::Kind::failed,
                           .text = dynamic_cast<const std::bad_alloc*>(&e)
                                       ? QStringLiteral("Not enough memory to export %1. Try a "
                                                        "shorter selection.")
                                             .arg(displayName(job.output))
                                       : prefix + message,
                           .progress = std::nullopt,
                           .file = std::nullopt};
                track(events::exportFailed(job.format, e, job.description().preset));
            });
        }
        if (!exportOutcome_ || exportOutcome_->kind != Notice::Kind::failed ||
            outcome.kind == Notice::Kind::failed)
            exportOutcome_ = outcome;
        updateNotice();
    }
    // After the state it reports is announced.
    emit exportFinished(job.output, !error);
}

} // namespace kavlo
