// The whole road through the program itself under a real X server: Xvfb is
// started here, the program runs twice on prepared settings, the songs are read
// back by ffprobe, and a screenshot of its window is saved for a person to look
// at (build/screenshots/real-window-*.png).
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <functional>
#include <map>
#include <set>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/Xvfb.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string tag(const fs::path& file, const std::string& key) {
    const auto result =
        testing::runCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=" + key, "-of",
                             "default=noprint_wrappers=1:nokey=1", file.string()});
    return result.output.substr(0, result.output.find_last_not_of("\r\n") + 1);
}

// Prepared so that the program plans and exports at once: the hidden
// "autoReview" starts the planning and "skipReview" goes straight on.
TEST(RealWindowTest, TheProgramExportsTaggedSongsOnPreparedSettingsAndAgainWritesNothingNew) {
    testing::Xvfb x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (scripts/install-deps installs it)";
    testing::TempDir home;
    testing::makeMusicLibrary(home / "Music");
    const QString conf = QString::fromStdString((home / "config/Tarvik/Tarvik.conf").string());
    {
        Settings settings(conf);
        // Never the network; the hidden "autoReview" and "skipReview" go straight on.
        for (const auto& [key, on] : std::map<std::string, bool>{{"onboarded", true},
                                                                 {"autoReview", true},
                                                                 {"skipReview", true},
                                                                 {"lookup", false},
                                                                 {"normalize", false}})
            settings.setBoolean(key, on);
        settings.setStringList("selected", {"Aino Trio"});
        for (const auto& [key, value] :
             std::map<std::string, std::string>{{"srcPath", (home / "Music").string()},
                                                {"appearance", "light"},
                                                {"destPath", (home / "Export").string()},
                                                {"profileId", "generic-mp3"}})
            settings.setString(key, value);
    }
    fs::create_directories(home / "Export");
    // A converter's folder that a killed start left behind, and another program's.
    const fs::path abandoned = home / "tmp" / "tarvik-0C6F2E8A-5B0D-4C39-9F43-3D2A7E1B9C55";
    const fs::path foreign = home / "tmp" / "tarvik-test-keep";
    for (const fs::path& folder : {abandoned, foreign}) {
        fs::create_directories(folder);
        fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] :
         std::map<QString, std::string>{{"DISPLAY", x.display},
                                        {"QT_QPA_PLATFORM", "xcb"},
                                        {"HOME", home.path().string()},
                                        {"XDG_CONFIG_HOME", (home / "config").string()},
                                        {"XDG_DATA_HOME", (home / "data").string()},
                                        {"TMPDIR", (home / "tmp").string()},
                                        {"CANBERRA_DRIVER", "none"}})
        environment.insert(name, QString::fromStdString(value));
    environment.remove("DBUS_SESSION_BUS_ADDRESS");  // nothing of the desktop this test runs on
    environment.remove("WAYLAND_DISPLAY");
    // The X keyboard library hands strndup a buffer without a terminating NUL;
    // the strict string check of the sanitizer options reports that inside the
    // library, before any of our code runs.
    environment.insert("ASAN_OPTIONS",
                       environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
    const auto songs = [&] { return testing::exportedSongs(home / "Export"); };
    // The end of a run writes the folder it exported to; it is removed before each start.
    const auto finished = [&] {
        return Settings(conf).string("lastExportPath") == (home / "Export").string();
    };
    // Runs the program until `ready` holds (by default: its run has ended),
    // leaves time for the window to draw, then ends it with a logout's
    // SIGTERM, which goes through its own clean-up as Ctrl+Q does.
    const auto runProgram = [&](const std::function<void()>& whileShown,
                                std::function<bool()> ready = {}) {
        Settings(conf).remove("lastExportPath");
        if (!ready) ready = finished;
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(TARVIK_PROGRAM, {});
        ASSERT_TRUE(program.waitForStarted());
        EXPECT_TRUE(testing::waitUntil(
            [&] { return ready() || program.state() != QProcess::Running; },
            std::chrono::seconds(120)));
        testing::waitUntil([] { return false; }, std::chrono::seconds(3));
        EXPECT_EQ(program.state(), QProcess::Running);
        whileShown();
        program.terminate();
        if (!program.waitForFinished(5000)) program.kill();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    };

    // A start that plans nothing (no converter is made) still removes the
    // folders a killed start left behind, and only those.
    Settings(conf).setBoolean("autoReview", false);
    runProgram([] {}, [&] { return !fs::exists(abandoned); });
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_FALSE(finished());
    Settings(conf).setBoolean("autoReview", true);

    runProgram([&] {
        const fs::path png =
            testing::screenshotFolder().toStdString() + "/real-window-finished.png";
        fs::create_directories(png.parent_path());
        const auto grab = testing::runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f",
                                               "x11grab", "-video_size", "1280x860", "-i",
                                               x.display, "-frames:v", "1", png.string()});
        EXPECT_EQ(grab.exitCode, 0) << grab.output;
        EXPECT_GT(fs::file_size(png), 10'000U);  // more than an empty screen
    });
    const auto first = songs();
    ASSERT_EQ(first.size(), 3U);  // the three songs of the ticked artist
    std::set<std::string> tags;   // artist / album / title
    for (const auto& [relative, time] : first) {
        const fs::path file = home / "Export" / relative;
        tags.insert(tag(file, "artist") + " / " + tag(file, "album") + " / " + tag(file, "title"));
        EXPECT_NE(relative.find(tag(file, "title")), std::string::npos) << relative;
    }
    EXPECT_EQ(tags, (std::set<std::string>{"Aino Trio / Kesä / Aamu", "Aino Trio / Kesä / Ilta",
                                           "Aino Trio / Talvi / Lumi"}));
    EXPECT_TRUE(fs::exists(foreign));

    runProgram([] {});
    EXPECT_EQ(songs(), first);  // nothing written again
}

}  // namespace
}  // namespace tarvik
