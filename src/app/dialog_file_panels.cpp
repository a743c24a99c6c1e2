#include "app/dialog_file_panels.h"

#include "session/file_paths.h"
#include "session/video_files.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>

namespace kavlo {

namespace {

bool isFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QString moviesOrHome() {
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return isFolder(movies) ? movies : QDir::homePath();
}

// Qt's own panel opens small enough to cut its columns short; it gets the
// room of a typical desktop's panel, within the screen it opens on.
void giveRoom(QFileDialog& dialog, QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    QSize room(860, 540);
    if (screen)
        room = room.boundedTo(screen->availableSize() * 0.9);
    dialog.resize(dialog.sizeHint().expandedTo(room));
}

} // namespace

QString openPanelFolder(const QString& lastOpen) {
    return isFolder(lastOpen) ? lastOpen : moviesOrHome();
}

QString savePanelFolder(const std::optional<std::filesystem::path>& videoFolder,
                        const QString& lastSave) {
    if (videoFolder && !videoFolder->empty()) {
        const QString folder = QFile::decodeName(QByteArray::fromStdString(videoFolder->native()));
        if (isFolder(folder) && QFileInfo(folder).isWritable())
            return folder;
    }
    return isFolder(lastSave) ? lastSave : moviesOrHome();
}

DialogFilePanels::DialogFilePanels(QWidget* window, std::shared_ptr<PanelFolders> folders)
    : window_(window), folders_(std::move(folders)) {}

std::optional<std::filesystem::path> DialogFilePanels::chooseVideoFile() {
    QFileDialog dialog(window_, QStringLiteral("Select Video"), openPanelFolder(folders_->lastOpen),
                       acceptedVideoNameFilter());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    giveRoom(dialog, window_);
    const int answer = dialog.exec();
    // Also a cancelled panel is left where the user was looking.
    folders_->lastOpen = dialog.directory().absolutePath();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString file = dialog.selectedFiles().constFirst();
    folders_->lastOpen = QFileInfo(file).absolutePath();
    return pathFromText(file);
}

std::optional<std::filesystem::path>
DialogFilePanels::chooseSaveLocation(const QString& proposedName,
                                     const std::optional<std::filesystem::path>& folder,
                                     ExportFormat format) {
    struct Panel {
        const char* title;
        const char* filter;
    };
    const Panel panel = [format]() -> Panel {
        switch (format) {
        case ExportFormat::gif:
            return {"Export as GIF", "GIF Image (*.gif)"};
        case ExportFormat::webp:
            return {"Export as WebP", "WebP Image (*.webp)"};
        case ExportFormat::webm:
            return {"Export as WebM", "WebM Video (*.webm)"};
        case ExportFormat::mp4:
            break;
        }
        return {"Export as MP4", "MPEG-4 Video (*.mp4)"};
    }();
    QFileDialog dialog(window_, QString::fromLatin1(panel.title),
                       savePanelFolder(folder, folders_->lastSave),
                       QString::fromLatin1(panel.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromLatin1(exportFormatName(format)));
    dialog.selectFile(proposedName);
    giveRoom(dialog, window_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString file = dialog.selectedFiles().constFirst();
    folders_->lastSave = QFileInfo(file).absolutePath();
    return pathFromText(file);
}

} // namespace kavlo
