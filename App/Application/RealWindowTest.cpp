// The program itself under a real X server: Xvfb is started here, the program
// runs on prepared settings, and a screenshot of its window is saved for a
// person to look at (build/screenshots/real-window-*.png).
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 860;

// An X server of its own on the first free display from :70 on, gone with the object.
class Xvfb {
public:
    Xvfb() {
        for (int number = 70; number < 110; ++number) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
                fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            display_ = ":" + std::to_string(number);
            server_.start("Xvfb", {QString::fromStdString(display_), "-screen", "0",
                                   QString("%1x%2x24").arg(screenWidth).arg(screenHeight), "-nolisten", "tcp"});
            const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (testing::waitUntil([&] { return fs::exists(socket) || server_.state() == QProcess::NotRunning; }) &&
                server_.state() == QProcess::Running)
                return;
            server_.kill();
            server_.waitForFinished();
        }
        display_.clear();
    }
    ~Xvfb() {
        server_.terminate();
        if (!server_.waitForFinished(5000)) server_.kill();
        server_.waitForFinished();
    }
    const std::string& display() const { return display_; }

private:
    QProcess server_;
    std::string display_;
};

// The whole screen as a PNG, through ffmpeg's X11 capture.
bool grabScreen(const std::string& display, const fs::path& png) {
    fs::create_directories(png.parent_path());
    return testing::runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                                std::to_string(screenWidth) + "x" + std::to_string(screenHeight), "-i", display,
                                "-frames:v", "1", png.string()})
               .exitCode == 0;
}

fs::path screenshots() {
    const char* dir = std::getenv("TARVIK_SCREENSHOTS");
    return dir != nullptr ? fs::path(dir) : fs::current_path() / "screenshots";
}

// Prepared so that the program plans and exports at once: the hidden
// "autoReview" starts the planning and "skipReview" goes straight on.
TEST(RealWindowTest, TheProgramExportsOnPreparedSettingsAndShowsItsSummary) {
    Xvfb x;
    ASSERT_FALSE(x.display().empty()) << "Xvfb did not start (scripts/install-deps installs it)";
    testing::TempDir home;
    const fs::path music = home / "Music";
    testing::makeMusicLibrary(music);
    {
        Settings settings(QString::fromStdString((home / "config" / "Tarvik" / "Tarvik.conf").string()));
        settings.setBoolean("onboarded", true);
        settings.setString("srcPath", music.string());
        settings.setStringList("selected", {"Aino Trio"});
        settings.setString("appearance", "light");
        settings.setString("destPath", (home / "Export").string());
        settings.setString("profileId", "generic-mp3");
        settings.setBoolean("lookup", false);  // never the network
        settings.setBoolean("normalize", false);
        settings.setBoolean("autoReview", true);
        settings.setBoolean("skipReview", true);
    }
    fs::create_directories(home / "Export");

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(x.display()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");  // nothing of the desktop this test runs on
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("CANBERRA_DRIVER", "none");
    // The X keyboard library hands strndup a buffer without a terminating NUL;
    // the strict string check of the sanitizer options reports that inside the
    // library, before any of our code runs.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(TARVIK_PROGRAM, {});
    ASSERT_TRUE(program.waitForStarted());

    // The three songs of the ticked artist, then time for the summary to draw.
    const auto songs = [&] {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(home / "Export"))
            count += entry.path().extension() == ".mp3" ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(testing::waitUntil([&] { return songs() == 3 || program.state() != QProcess::Running; },
                                   std::chrono::seconds(120)));
    testing::waitUntil([] { return false; }, std::chrono::seconds(3));
    EXPECT_EQ(songs(), 3U);
    EXPECT_EQ(program.state(), QProcess::Running);
    const fs::path png = screenshots() / "real-window-finished.png";
    EXPECT_TRUE(grabScreen(x.display(), png));
    EXPECT_GT(fs::file_size(png), 10'000U);  // more than an empty screen

    program.terminate();
    if (!program.waitForFinished(5000)) program.kill();
}

}  // namespace
}  // namespace tarvik
