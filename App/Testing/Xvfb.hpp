#pragma once
// An X server of its own for tests that start the program under a real
// window system: Xvfb on the first free display from :70 on, stopped when the
// object goes. A display() that is empty means Xvfb could not start.
#include <filesystem>
#include <string>

#include <QProcess>

namespace tarvik::testing {

class Xvfb {
public:
    static constexpr int width = 1280;
    static constexpr int height = 860;

    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }
    // The whole screen as a PNG, through ffmpeg's X11 capture; false when that failed.
    bool grab(const std::filesystem::path& png) const;

private:
    QProcess server_;
    std::string display_;
};

}  // namespace tarvik::testing
