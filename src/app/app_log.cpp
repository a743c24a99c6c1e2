#include "app/app_log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlo {

namespace fs = std::filesystem;

namespace {

// The file the installed handler writes to, and the handler before it. A
// message may come from any thread while the log is being replaced: the
// handler takes its own reference, so the file outlives every write to it.
std::mutex installedMutex;
std::shared_ptr<LogFile> installedFile;
QtMessageHandler installedPrevious = nullptr;

const char* levelWord(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

// "2026-12-08T23:40:12.345Z info com.tarsel.kavlo.load: text"; the lines of a
// message after its first are indented, so that each record stays one block.
QByteArray logLine(QtMsgType type, const char* category, const QString& text) {
    QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    line += ' ';
    line += levelWord(type);
    line += ' ';
    line += category && *category ? category : "default";
    line += ": ";
    line += text.toUtf8().replace('\n', "\n    ");
    return line;
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    std::shared_ptr<LogFile> file;
    QtMessageHandler previous;
    {
        std::lock_guard lock(installedMutex);
        file = installedFile;
        previous = installedPrevious;
    }
    // The file first: a fatal message ends the process in the handler before.
    if (file)
        file->write(logLine(type, context.category, text));
    if (previous)
        previous(type, context, text);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

} // namespace

fs::path defaultLogPath() {
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const fs::path base =
        !state.isEmpty() && QDir::isAbsolutePath(state)
            ? fs::path(QFile::encodeName(state).toStdString())
            : fs::path(QFile::encodeName(QDir::homePath()).toStdString()) / ".local" / "state";
    return base / "Kavlo" / "kavlo.log";
}

LogFile::LogFile(fs::path path, std::int64_t capBytes)
    : path_(std::move(path)), capBytes_(capBytes) {
    std::error_code ec;
    const fs::path folder = path_.parent_path();
    if (!folder.empty() && fs::create_directories(folder, ec))
        fs::permissions(folder, fs::perms::owner_all, ec);
    std::lock_guard lock(mutex_);
    openLocked();
}

LogFile::~LogFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void LogFile::openLocked() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void LogFile::write(QByteArrayView line) {
    QByteArray record(line.data(), line.size());
    record += '\n';
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return;
    struct stat open = {};
    struct stat named = {};
    // Another process rotated the file: ours is kavlo.log.1 now.
    if (::fstat(fd_, &open) == 0 && (::stat(path_.c_str(), &named) != 0 ||
                                     named.st_ino != open.st_ino || named.st_dev != open.st_dev)) {
        openLocked();
        if (fd_ < 0 || ::fstat(fd_, &open) != 0)
            return;
    }
    if (open.st_size > 0 && open.st_size + record.size() > capBytes_) {
        fs::path older = path_;
        older += ".1";
        std::error_code ec;
        fs::rename(path_, older, ec);
        openLocked();
        if (fd_ < 0)
            return;
    }
    writeAll(fd_, record.constData(), std::size_t(record.size()));
}

ApplicationLog::ApplicationLog(fs::path path, std::int64_t capBytes) {
    auto file = std::make_shared<LogFile>(std::move(path), capBytes);
    std::lock_guard lock(installedMutex);
    installedFile = std::move(file);
    previous_ = qInstallMessageHandler(handleMessage);
    installedPrevious = previous_;
}

ApplicationLog::~ApplicationLog() {
    qInstallMessageHandler(previous_);
    std::lock_guard lock(installedMutex);
    installedFile.reset();
    installedPrevious = nullptr;
}

} // namespace kavlo
