// The program itself under a real X server: Xvfb is started here, the program
// runs on prepared settings, and a screenshot of its window is saved for a
// person to look at (build/screenshots/real-window-*.png).
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/Xvfb.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// Prepared so that the program plans and exports at once: the hidden
// "autoReview" starts the planning and "skipReview" goes straight on.
TEST(RealWindowTest, TheProgramExportsOnPreparedSettingsAndShowsItsSummary) {
    testing::Xvfb x;
    ASSERT_FALSE(x.display().empty()) << "Xvfb did not start (scripts/install-deps installs it)";
    testing::TempDir home;
    const fs::path music = home / "Music";
    testing::makeMusicLibrary(music);
    {
        Settings settings(QString::fromStdString((home / "config" / "Tarvik" / "Tarvik.conf").string()));
        for (const char* key : {"onboarded", "autoReview", "skipReview"}) settings.setBoolean(key, true);
        for (const char* key : {"lookup", "normalize"}) settings.setBoolean(key, false);  // never the network
        settings.setString("srcPath", music.string());
        settings.setStringList("selected", {"Aino Trio"});
        settings.setString("appearance", "light");
        settings.setString("destPath", (home / "Export").string());
        settings.setString("profileId", "generic-mp3");
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
    const auto songs = [&] { return testing::exportedSongs(home / "Export").size(); };
    EXPECT_TRUE(testing::waitUntil([&] { return songs() == 3 || program.state() != QProcess::Running; },
                                   std::chrono::seconds(120)));
    testing::waitUntil([] { return false; }, std::chrono::seconds(3));
    EXPECT_EQ(songs(), 3U);
    EXPECT_EQ(program.state(), QProcess::Running);
    const fs::path png = testing::screenshotFolder().toStdString() + "/real-window-finished.png";
    EXPECT_TRUE(x.grab(png));
    EXPECT_GT(fs::file_size(png), 10'000U);  // more than an empty screen

    program.terminate();
    if (!program.waitForFinished(5000)) program.kill();
}

}  // namespace
}  // namespace tarvik
