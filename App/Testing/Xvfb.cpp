#include "App/Testing/Xvfb.hpp"

#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

namespace fs = std::filesystem;

Xvfb::Xvfb() {
    for (int number = 70; number < 110; ++number) {
        const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
        display_ = ":" + std::to_string(number);
        server_.start("Xvfb", {QString::fromStdString(display_), "-screen", "0",
                               QString("%1x%2x24").arg(width).arg(height), "-nolisten", "tcp"});
        if (waitUntil([&] { return fs::exists(socket) || server_.state() == QProcess::NotRunning; }) &&
            server_.state() == QProcess::Running)
            return;
        server_.kill();
        server_.waitForFinished();
    }
    display_.clear();
}

Xvfb::~Xvfb() {
    server_.terminate();
    if (!server_.waitForFinished(5000)) server_.kill();
    server_.waitForFinished();
}

bool Xvfb::grab(const fs::path& png) const {
    fs::create_directories(png.parent_path());
    return runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                       std::to_string(width) + "x" + std::to_string(height), "-i", display_, "-frames:v", "1",
                       png.string()})
               .exitCode == 0;
}

}  // namespace tarvik::testing
