#include "session/ffmpeg_process.h"

#include "core/error.h"
#include "core/error_codes.h"
#include "qtutil/log_categories.h"
#include "session/app_resources.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>

#include <chrono>

#include <unistd.h>

namespace kavlo {

namespace fs = std::filesystem;

namespace {

// How often a waiting run looks at its stop token and drains the pipe.
constexpr int kPollMilliseconds = 50;

// Keeps the last `limit` bytes written to it.
class Tail {
  public:
    explicit Tail(qsizetype limit) : limit_(limit) {}

    void append(const QByteArray& bytes) {
        data_.append(bytes);
        if (data_.size() > 2 * limit_) {
            data_.remove(0, data_.size() - limit_);
            cut_ = true;
        }
    }

    // The kept bytes; when the beginning was dropped, from the first whole
    // line (or the first whole character) on.
    QByteArray text() const {
        if (!cut_ && data_.size() <= limit_)
            return data_;
        QByteArray kept = data_.right(limit_);
        const qsizetype newline = kept.indexOf('\n');
        if (newline >= 0)
            return kept.mid(newline + 1);
        qsizetype start = 0;
        while (start < kept.size() && (uchar(kept[start]) & 0xC0) == 0x80)
            ++start;
        return kept.mid(start);
    }

  private:
    qsizetype limit_;
    QByteArray data_;
    bool cut_ = false;
};

// FFmpeg starts a line with the component that logged it and that
// component's address ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x555ca5c9da80] "),
// nested ones one after another: internals that mean nothing to a reader.
QString withoutLogContext(const QString& text) {
    static const QRegularExpression context(
        QStringLiteral(R"(^(?:\[[^\[\]\n]* @ (?:0x)?[0-9a-fA-F]+\] *)+)"),
        QRegularExpression::MultilineOption);
    QString result = text;
    result.remove(context);
    return result;
}

// The command line as a shell would take it, for the log.
QString commandLine(const QString& program, const QStringList& arguments) {
    static const QRegularExpression plain(QStringLiteral(R"(^[A-Za-z0-9_@%+=:,./-]+$)"));
    QString line;
    for (const QString& word : QStringList(program) + arguments) {
        if (!line.isEmpty())
            line += u' ';
        line += plain.match(word).hasMatch()
                    ? word
                    : u'\'' + QString(word).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    }
    return line;
}

// The end of what a failed run wrote, enough to see why in the log.
constexpr qsizetype kLoggedErrorOutputChars = 4000;

// What the converter said on its error output, trimmed; empty when it said
// nothing readable.
QString failureText(const QByteArray& errorOutput) {
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = withoutLogContext(QString(decoder.decode(errorOutput))).trimmed();
    return decoder.hasError() ? QString() : text;
}

// Hands every "out_time_us=" value of the converter's progress lines to
// `position`, in seconds.
class PositionReader {
  public:
    explicit PositionReader(const std::function<void(double)>& position) : position_(position) {}

    void append(const QByteArray& bytes) {
        pending_.append(bytes);
        qsizetype newline;
        while ((newline = pending_.indexOf('\n')) >= 0) {
            const QByteArray line = pending_.left(newline).trimmed();
            pending_.remove(0, newline + 1);
            if (!line.startsWith("out_time_us="))
                continue;
            bool ok = false;
            const qlonglong us = line.mid(12).toLongLong(&ok);
            if (ok && us >= 0)
                position_(double(us) / 1e6);
        }
        if (pending_.size() > 4096) // no line is that long: not progress output
            pending_.clear();
    }

  private:
    const std::function<void(double)>& position_;
    QByteArray pending_;
};

} // namespace

QStringList progressArguments() {
    return {"-nostats", "-progress", "pipe:1"};
}

std::vector<fs::path> defaultFFmpegCandidates() {
    std::vector<fs::path> candidates;
    for (const fs::path& dir : resourceDirectories(executableDirectory()))
        candidates.push_back(dir / "ffmpeg");
    candidates.emplace_back("/usr/local/bin/ffmpeg");
    candidates.emplace_back("/usr/bin/ffmpeg");
    return candidates;
}

std::optional<fs::path> locateFFmpeg(const std::vector<fs::path>& candidates) {
    for (const fs::path& candidate : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

void runFFmpeg(const fs::path& program, const QStringList& arguments, std::stop_token stop,
               const std::function<void(double)>& position) {
    throwIfCancelled(stop);
    QProcess process;
    process.setProgram(QFile::decodeName(QByteArray::fromStdString(program.native())));
    process.setArguments(arguments);
    if (!position)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    qCInfo(lcConvert, "Running %s", qUtf8Printable(commandLine(process.program(), arguments)));
    const auto began = std::chrono::steady_clock::now();
    const auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    };
    process.start();
    if (!process.waitForStarted(-1)) {
        const Error error(kConverterDomain, kConverterNotStarted,
                          "ffmpeg could not be started: " + process.errorString().toStdString());
        qCWarning(lcConvert, "%s", error.what());
        throw error;
    }

    Tail errorOutput(kKeptErrorOutputBytes);
    PositionReader positions(position);
    const auto readOutput = [&] {
        if (position)
            positions.append(process.readAllStandardOutput());
    };
    while (process.state() != QProcess::NotRunning) {
        if (stop.stop_requested()) {
            process.kill();
            process.waitForFinished(-1);
            qCInfo(lcConvert, "ffmpeg stopped after %.2f s: the load was cancelled", seconds());
            throw Cancelled();
        }
        process.waitForFinished(kPollMilliseconds);
        errorOutput.append(process.readAllStandardError());
        readOutput();
    }
    errorOutput.append(process.readAllStandardError());
    readOutput();
    throwIfCancelled(stop);

    const bool killed = process.exitStatus() == QProcess::CrashExit;
    if (!killed && process.exitCode() == 0) {
        qCInfo(lcConvert, "ffmpeg exited with status 0 after %.2f s", seconds());
        return;
    }
    const QString said = failureText(errorOutput.text());
    qCWarning(lcConvert, "ffmpeg %s %d after %.2f s%s%s",
              killed ? "was killed by signal" : "stopped with exit status", process.exitCode(),
              seconds(), said.isEmpty() ? "" : ":\n",
              qUtf8Printable(said.right(kLoggedErrorOutputChars)));
    throw ConverterError(converterFailure(killed, process.exitCode(), said));
}

Error converterFailure(bool killed, int number, const QString& errorOutput) {
    if (killed) {
        // What a crashing converter wrote last is rarely why it crashed.
        return Error(kConverterDomain, converterSignalCode(number),
                     "ffmpeg was killed by signal " + std::to_string(number) + ".");
    }
    const std::string words = "ffmpeg stopped with exit status " + std::to_string(number) + ".";
    return Error(kConverterDomain, converterExitCode(number),
                 errorOutput.isEmpty() ? words : errorOutput.toStdString());
}

} // namespace kavlo
