#include "log_capture.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <mutex>

namespace kavlo::test {

namespace {

std::mutex logMutex;
QList<LogLine> logLines;
QtMessageHandler previousHandler = nullptr;

qint64 logClockMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && QByteArrayView(context.category) == "Analytics") {
        std::lock_guard lock(logMutex);
        logLines.append({logClockMs(), text});
        return;
    }
    previousHandler(type, context, text);
}

} // namespace

void installLogCapture() {
    logClockMs();
    previousHandler = qInstallMessageHandler(captureMessage);
}

QList<LogLine> capturedLog() {
    std::lock_guard lock(logMutex);
    return logLines;
}

void clearCapturedLog() {
    std::lock_guard lock(logMutex);
    logLines.clear();
}

QList<qint64> logTimes(const QString& prefix) {
    QList<qint64> times;
    for (const LogLine& line : capturedLog()) {
        if (line.text.startsWith(prefix))
            times.append(line.atMs);
    }
    return times;
}

} // namespace kavlo::test
