// main() for the application's tests: offscreen, on two screens side by
// side (1600 x 1000 each, the second at twice the pixel density), unless
// QT_QPA_PLATFORM says otherwise.
#include <QApplication>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" KAVLO_TWO_SCREENS);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
