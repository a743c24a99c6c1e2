#include "app/dialog_file_panels.h"

#include "session/video_files.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace kavlo {

namespace {

QString startDirectory(const QString& last) {
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return QFileInfo(movies).isDir() ? movies : QDir::homePath();
}

std::filesystem::path bytesOf(const QString& file) {
    return std::filesystem::path(QFile::encodeName(file).toStdString());
}

} // namespace

DialogFilePanels::DialogFilePanels(QWidget* window) : window_(window) {}

std::optional<std::filesystem::path> DialogFilePanels::chooseVideoFile() {
    QFileDialog dialog(window_, QStringLiteral("Select Video"), startDirectory(lastOpenDirectory_),
                       acceptedVideoNameFilter());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString file = dialog.selectedFiles().constFirst();
    lastOpenDirectory_ = QFileInfo(file).absolutePath();
    return bytesOf(file);
}

std::optional<std::filesystem::path>
DialogFilePanels::chooseSaveLocation(const QString& proposedName, ExportFormat format) {
    const bool gif = format == ExportFormat::gif;
    QFileDialog dialog(
        window_, gif ? QStringLiteral("Export as GIF") : QStringLiteral("Export as MP4"),
        startDirectory(lastSaveDirectory_),
        gif ? QStringLiteral("GIF Image (*.gif)") : QStringLiteral("MPEG-4 Video (*.mp4)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(gif ? QStringLiteral("gif") : QStringLiteral("mp4"));
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString file = dialog.selectedFiles().constFirst();
    lastSaveDirectory_ = QFileInfo(file).absolutePath();
    return bytesOf(file);
}

} // namespace kavlo
