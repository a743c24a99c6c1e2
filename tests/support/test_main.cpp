// main() for the test binaries: keeps FFmpeg's console chatter (x264's
// statistics, demuxer notes) out of the test output. Built a second time
// with KAVLO_TEST_MAIN_QT for tests that need an application object
// (widgets included, on the platform QT_QPA_PLATFORM names, "offscreen" in CI).
#include <gtest/gtest.h>

#ifdef KAVLO_TEST_MAIN_QT
#include <QApplication>
#endif

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
#ifdef KAVLO_TEST_MAIN_QT
    // Test discovery runs the binary without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
