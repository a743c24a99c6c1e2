// The analytics tests need an event loop on the main thread (the test
// server) and the "Analytics" debug lines, which are off by default.
#include "log_capture.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("Analytics.debug=true"));
    kavlo::test::installLogCapture();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
