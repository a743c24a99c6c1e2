// A capture of the "Analytics" log lines, for the upload tests.
#pragma once

#include <QList>
#include <QString>

namespace kavlo::test {

// Milliseconds since the first log line was captured in this process, and
// the text, for every line of the "Analytics" category.
struct LogLine {
    qint64 atMs;
    QString text;
};
void installLogCapture();
QList<LogLine> capturedLog();
void clearCapturedLog();
// The times of the captured lines that start with `prefix`.
QList<qint64> logTimes(const QString& prefix);

} // namespace kavlo::test
