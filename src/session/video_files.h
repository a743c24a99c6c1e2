// Which files the open panel offers, and the names proposed for exports.
// Plain functions; any thread may call them.
#pragma once

#include "analytics/event_catalog.h"

#include <QString>
#include <QStringList>

#include <filesystem>

namespace kavlo {

// The file-name extensions (lower case, without the dot) the open panel
// accepts besides the system's video types, in the order it lists them.
const QStringList& acceptedVideoExtensions();

// The system's video MIME types ("video/mp4", "video/quicktime", and every
// other "video/..." type the MIME database knows), sorted, no duplicates.
const QStringList& acceptedVideoMimeTypes();

// Glob patterns of every accepted file, both cases of each extension
// ("*.mov", "*.MOV"): the extensions above first, then the patterns of the
// MIME types not already covered. Built once.
const QStringList& acceptedVideoPatterns();

// The open panel's one name filter: "Videos (*.3g2 *.3G2 ...)".
QString acceptedVideoNameFilter();

// The name proposed in the save panel: the file name without its last
// extension + "-kavlo.mp4" or "-kavlo.gif" ("a.b.mov" -> "a.b-kavlo.mp4").
// For display only: a name that is not valid UTF-8 comes out with
// replacement characters, which the user sees and may edit.
QString proposedExportName(const std::filesystem::path& source, ExportFormat format);

} // namespace kavlo
