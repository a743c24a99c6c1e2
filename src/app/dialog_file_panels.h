// The open and save panels of a window, as modal QFileDialogs over it. The
// chosen paths are the file names' own bytes, so names that are not UTF-8
// survive.
//
// UI thread only.
#pragma once

#include "session/file_panels.h"

#include <QPointer>
#include <QWidget>

namespace kavlo {

class DialogFilePanels : public FilePanels {
  public:
    explicit DialogFilePanels(QWidget* window);

    std::optional<std::filesystem::path> chooseVideoFile() override;
    std::optional<std::filesystem::path> chooseSaveLocation(const QString& proposedName,
                                                            ExportFormat format) override;

  private:
    QPointer<QWidget> window_;
    QString lastOpenDirectory_;
    QString lastSaveDirectory_;
};

} // namespace kavlo
