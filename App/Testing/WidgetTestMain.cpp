// Test main for the widget layers: a QApplication on the offscreen platform
// (set by the test registration) with the fonts a person would see.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // Test discovery runs the executable at build time, outside ctest's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
