#pragma once
// For tests that start the program itself: its environment, with its
// settings, data and temporary files in the test's `home`, no sound, nothing
// of the desktop the test runs on (its session bus, its Wayland display), and
// the screen `platform` names ("offscreen", or "xcb" on `display`). Header
// only; test thread.
#include <QProcessEnvironment>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

inline QProcessEnvironment programEnvironment(const std::filesystem::path& home,
                                              const std::string& platform,
                                              const std::string& display = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const std::vector<std::pair<QString, std::string>> values = {
        {"QT_QPA_PLATFORM", platform},
        {"HOME", home.string()},
        {"XDG_CONFIG_HOME", (home / "config").string()},
        {"XDG_DATA_HOME", (home / "data").string()},
        {"TMPDIR", (home / "tmp").string()},
        {"CANBERRA_DRIVER", "none"}};
    for (const auto& [name, value] : values)
        environment.insert(name, QString::fromStdString(value));
    if (!display.empty()) environment.insert("DISPLAY", QString::fromStdString(display));
    std::filesystem::create_directories(home / "tmp");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.remove("WAYLAND_DISPLAY");
    return environment;
}

}  // namespace tarvik::testing
