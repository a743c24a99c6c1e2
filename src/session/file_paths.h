// File names are bytes on Linux and need not be valid UTF-8, while QString
// and QFile::encodeName/decodeName turn every invalid byte into U+FFFD for
// good. The session therefore keeps std::filesystem::path (the bytes) and
// crosses into Qt only here: file URLs carry the bytes percent-encoded, and
// text is for display. Any thread may call these functions.
#pragma once

#include <QString>
#include <QUrl>

#include <filesystem>
#include <optional>

namespace kavlo {

// A file URL holding the path's bytes ("file:///tmp/a%FF.mp4").
QUrl fileUrl(const std::filesystem::path& file);

// The path a local file URL names, byte for byte ("%FF" is the byte 0xFF);
// nullopt for URLs that are not local files.
std::optional<std::filesystem::path> pathFromUrl(const QUrl& url);

// A path received as text (a file dialog's answer, a dropped string, a
// QUrl::toLocalFile()). Text cannot hold a name that is not valid UTF-8,
// so where the text's own encoding names nothing on disk, each missing
// component is looked up among its directory's entries by its displayed
// name: the one entry that displays the same is the file meant. Text that
// is a file URL is read as one. Reads directories; off the UI thread for
// network mounts.
std::filesystem::path pathFromText(const QString& text);

// The path as text for the user to read; bytes that are not UTF-8 show as
// U+FFFD. Never turn it back into a path to open the file.
QString displayPath(const std::filesystem::path& file);
// The last component, for status texts ("Loading clip.mov...").
QString displayName(const std::filesystem::path& file);

} // namespace kavlo
