// Test main for the widget layers: a QApplication on the offscreen platform
// (set by the test registration) with the fonts a person would see.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // No test plays a sound: a driver that does not exist keeps libcanberra from
    // loading ALSA, whose threads can still be starting when the program ends
    // and then crash the leak checker's pass at exit.
    if (qEnvironmentVariableIsEmpty("CANBERRA_DRIVER")) qputenv("CANBERRA_DRIVER", "none");
    // Test discovery runs the executable at build time, outside ctest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
