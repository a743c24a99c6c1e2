// The application log: every message Qt's logging lets through (the
// "com.tarsel.kavlo.*" categories of qtutil/log_categories.h at info level
// and above, and Qt's own warnings) goes to stderr as Qt writes it and to
// kavlo.log in the XDG state directory, for the user to attach to a bug
// report. The file is capped: a line that would take it past the cap first
// turns it into kavlo.log.1 (replacing the one before), and a new kavlo.log
// begins; so at most two files are kept.
#pragma once

#include <QtGlobal>

#include <QByteArrayView>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>

namespace kavlo {

// $XDG_STATE_HOME/Kavlo/kavlo.log; ~/.local/state/Kavlo/kavlo.log when the
// variable is unset or not an absolute path.
std::filesystem::path defaultLogPath();

// A size-capped log file, rotated once. Opened (its folder made, private to
// the user) when constructed; one that cannot be opened drops what it is
// given. Any thread may write; each line is written whole by a single
// write, so two processes sharing the file never interleave inside a line,
// and one that finds the file rotated by the other follows it.
class LogFile {
  public:
    static constexpr std::int64_t kDefaultCapBytes = 1024 * 1024;

    explicit LogFile(std::filesystem::path path, std::int64_t capBytes = kDefaultCapBytes);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Appends `line` and a line break.
    void write(QByteArrayView line);

    const std::filesystem::path& path() const { return path_; }

  private:
    void openLocked();

    const std::filesystem::path path_;
    const std::int64_t capBytes_;
    std::mutex mutex_;
    int fd_ = -1;
};

// The message handler for as long as it lives (one at a time): each message
// goes to the handler there was before (Qt's own, to stderr) and, with the
// time, level and category, to the log file.
class ApplicationLog {
  public:
    explicit ApplicationLog(std::filesystem::path path = defaultLogPath(),
                            std::int64_t capBytes = LogFile::kDefaultCapBytes);
    ~ApplicationLog();
    ApplicationLog(const ApplicationLog&) = delete;
    ApplicationLog& operator=(const ApplicationLog&) = delete;

  private:
    QtMessageHandler previous_ = nullptr;
};

} // namespace kavlo
