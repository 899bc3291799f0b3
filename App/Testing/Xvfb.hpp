#pragma once
// An X server of its own for a test that starts the real program, so that it
// never draws on the developer's screen: Xvfb on the first free display from
// :70 on, started with the object and stopped with it. Test thread only; when
// none would start, `display` stays empty and the test says so.
#include <QProcess>
#include <filesystem>
#include <string>

#include "App/Testing/AppTesting.hpp"

namespace tarvik::testing {

struct Xvfb {
    QProcess server;
    std::string display;

    Xvfb() {
        for (int number = 70; number < 110 && display.empty(); ++number) {
            const std::filesystem::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (std::filesystem::exists(socket) ||
                std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            server.start("Xvfb", {QString(":%1").arg(number), "-screen", "0", "1280x860x24",
                                  "-nolisten", "tcp"});
            if (waitUntil([&] {
                    return std::filesystem::exists(socket) ||
                           server.state() == QProcess::NotRunning;
                }) &&
                server.state() == QProcess::Running)
                display = ":" + std::to_string(number);
            else {
                server.kill();
                server.waitForFinished();
            }
        }
    }
    ~Xvfb() {
        server.terminate();
        server.waitForFinished(5000);  // else QProcess kills it on the way out
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
};

}  // namespace tarvik::testing
