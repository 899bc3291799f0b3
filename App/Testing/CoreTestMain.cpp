// Test main for the layers without widgets: an event loop for queued calls,
// timers and signals, and no display.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    // No test plays a sound: a driver that does not exist keeps libcanberra from
    // loading ALSA, whose threads can still be starting when the program ends
    // and then crash the leak checker's pass at exit.
    if (qEnvironmentVariableIsEmpty("CANBERRA_DRIVER")) qputenv("CANBERRA_DRIVER", "none");
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
