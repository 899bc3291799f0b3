// Test main for the widget layers: a QApplication on the offscreen platform
// (set by the test registration) with the fonts a person would see.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
