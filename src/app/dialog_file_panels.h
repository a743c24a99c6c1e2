// The open and save panels of a window, as modal QFileDialogs over it. A
// chosen name that is not UTF-8 comes back as its own bytes
// (pathFromText), not as the text the dialog shows.
//
// UI thread only.
#pragma once

#include "session/file_panels.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace kavlo {

// The folders the panels of every window last showed, for the program's run:
// a new window's open panel starts where the last one was left.
struct PanelFolders {
    QString lastOpen;
    QString lastSave;
};

// Where the open panel starts: the folder it was last left in, else the
// user's Movies folder, else home.
QString openPanelFolder(const QString& lastOpen);
// Where the save panel starts: the opened video's folder when it can be
// written in (an export usually belongs beside its source), else the folder
// last saved to, else Movies, else home.
QString savePanelFolder(const std::optional<std::filesystem::path>& videoFolder,
                        const QString& lastSave);

class DialogFilePanels : public FilePanels {
  public:
    explicit DialogFilePanels(
        QWidget* window, std::shared_ptr<PanelFolders> folders = std::make_shared<PanelFolders>());

    std::optional<std::filesystem::path> chooseVideoFile() override;
    std::optional<std::filesystem::path>
    chooseSaveLocation(const QString& proposedName,
                       const std::optional<std::filesystem::path>& folder,
                       ExportFormat format) override;

  private:
    QPointer<QWidget> window_;
    std::shared_ptr<PanelFolders> folders_;
};

} // namespace kavlo
