// Handing a saved file to other programs, by the clipboard or by dragging
// it out of the window: the same data for both. File managers take the
// file list (text/uri-list, and x-special/gnome-copied-files for GNOME's
// and its relatives' paste); browsers and Chromium-based chat apps paste
// the picture itself, so a GIF or WebP of at most 20 MB also travels as
// its bytes (image/gif, image/webp).
#pragma once

#include <QMimeData>

#include <filesystem>
#include <memory>

namespace kavlo {

inline constexpr qint64 kMaxImageBytesOnClipboard = 20 * 1024 * 1024;

std::unique_ptr<QMimeData> fileMimeData(const std::filesystem::path& file);

} // namespace kavlo
