// The open and save panels the session shows, behind an interface so that
// the session runs without a window: the application implements it with
// QFileDialog, tests with a fake that answers at once. UI thread only.
#pragma once

#include "analytics/event_catalog.h"

#include <QString>

#include <filesystem>
#include <optional>

namespace kavlo {

class FilePanels {
  public:
    virtual ~FilePanels() = default;
    // Modal open panel: one file, no directories, the accepted video types
    // (video_files.h). nullopt when the user cancels.
    virtual std::optional<std::filesystem::path> chooseVideoFile() = 0;
    // Modal save panel for `format` with `proposedName` in the name field,
    // showing `folder` (the folder of the video the user opened; none for
    // the bundled example, which lives among the program's files). nullopt
    // when the user cancels.
    virtual std::optional<std::filesystem::path>
    chooseSaveLocation(const QString& proposedName,
                       const std::optional<std::filesystem::path>& folder, ExportFormat format) = 0;
};

} // namespace kavlo
