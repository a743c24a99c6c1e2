// Turns what was dropped on the window into the one file to open. Paths are
// bytes here: a file name that is not valid UTF-8 survives the drop.
#pragma once

#include <QByteArray>
#include <QUrl>

#include <filesystem>
#include <optional>

class QMimeData;

namespace kavlo {

// The local file a URL names ("file:///a%20b.mp4", "file://localhost/x"),
// percent-decoded to the file name's own bytes; none for any other URL.
std::optional<std::filesystem::path> localFileOf(const QUrl& url);

// The first local file among the dropped URLs, else a file URL or an
// absolute path given as plain text (its first line). None when the drop
// holds no local file: web addresses, relative paths and empty text are
// refused.
std::optional<std::filesystem::path> droppedFile(const QMimeData& data);

} // namespace kavlo
