// The analytics tests need an event loop on the main thread (the test
// servers) and the analytics debug lines, which are off by default; the
// lines are captured for the tests to read.
#include "client_fixture.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace kavlo::test {
namespace {
std::mutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;
} // namespace

QStringList capturedLog() {
    std::lock_guard lock(logMutex);
    return logLines;
}
void clearCapturedLog() {
    std::lock_guard lock(logMutex);
    logLines.clear();
}

} // namespace kavlo::test

int main(int argc, char** argv) {
    using namespace kavlo::test;
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("com.tarsel.kavlo.analytics.debug=true"));
    previousHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                                const QString& text) {
        if (context.category && QByteArrayView(context.category) == "com.tarsel.kavlo.analytics") {
            std::lock_guard lock(logMutex);
            logLines.append(text);
        } else {
            previousHandler(type, context, text);
        }
    });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
