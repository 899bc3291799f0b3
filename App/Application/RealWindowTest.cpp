// The whole road through the program itself under a real X server: Xvfb is
// started here, the program runs on prepared settings, the songs are read back
// by ffprobe, an export onto a read-only folder is refused, and screenshots of
// its window are saved for a person to look at (build/screenshots/real-window-*.png).
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/ProgramEnvironment.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/Xvfb.hpp"
#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/Script.hpp"
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

// The program itself on prepared settings, in an X server of its own: the
// hidden "autoReview" starts the planning and "skipReview" goes straight on;
// the network is never asked. Songs go from home/Music to `destination`.
struct RealProgram {
    testing::Xvfb x;
    testing::TempDir home;
    QString conf = QString::fromStdString((home / "config/Tarvik/Tarvik.conf").string());
    QProcessEnvironment environment;

    explicit RealProgram(const fs::path& destination) {
        testing::makeMusicLibrary(home / "Music");
        Settings settings(conf);
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
                                                {"destPath", destination.string()},
                                                {"profileId", "generic-mp3"}})
            settings.setString(key, value);
        environment = testing::programEnvironment(home.path(), "xcb", x.display);
        // The X keyboard library hands strndup a buffer without a terminating NUL;
        // the strict string check of the sanitizer options reports that inside the
        // library, before any of our code runs.
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":strict_string_checks=0");
    }

    // Whether the end of a run wrote the folder it exported to (removed before each start).
    bool finished(const fs::path& destination) const {
        return Settings(conf).string("lastExportPath") == destination.string();
    }

    // Runs the program until `ready` holds, leaves time for the window to
    // draw, runs `whileShown`, then ends it with a logout's SIGTERM, which
    // goes through its own clean-up as Ctrl+Q does.
    void run(const std::function<bool()>& ready, const std::function<void()>& whileShown) {
        Settings(conf).remove("lastExportPath");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(TARVIK_PROGRAM, {});
        ASSERT_TRUE(program.waitForStarted());
        EXPECT_TRUE(
            testing::waitUntil([&] { return ready() || program.state() != QProcess::Running; },
                               std::chrono::seconds(120)));
        testing::waitUntil([] { return false; }, std::chrono::seconds(3));
        EXPECT_EQ(program.state(), QProcess::Running);
        whileShown();
        program.terminate();
        // Generous: under a loaded machine the clean-up of a sanitized build is slow.
        if (!program.waitForFinished(30000)) program.kill();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }

    // The X server's screen, for a person to look at.
    void screenshot(const std::string& name) const {
        const fs::path png = testing::screenshotFolder().toStdString() + "/" + name + ".png";
        fs::create_directories(png.parent_path());
        const auto grab = testing::runCommand({"ffmpeg", "-loglevel", "error", "-y", "-f",
                                               "x11grab", "-video_size", "1280x860", "-i",
                                               x.display, "-frames:v", "1", png.string()});
        EXPECT_EQ(grab.exitCode, 0) << grab.output;
        EXPECT_GT(fs::file_size(png), 10'000U);  // more than an empty screen
    }
};

TEST(RealWindowTest, TheProgramExportsTaggedSongsOnPreparedSettingsAndAgainWritesNothingNew) {
    testing::TempDir scratch;
    RealProgram p(scratch / "Export");
    ASSERT_FALSE(p.x.display.empty()) << "Xvfb did not start (scripts/install-deps installs it)";
    const fs::path exportFolder = scratch / "Export";
    fs::create_directories(exportFolder);
    // A converter's folder that a killed start left behind, and another program's.
    const fs::path abandoned = p.home / "tmp" / "tarvik-0C6F2E8A-5B0D-4C39-9F43-3D2A7E1B9C55";
    const fs::path foreign = p.home / "tmp" / "tarvik-test-keep";
    for (const fs::path& folder : {abandoned, foreign}) {
        fs::create_directories(folder);
        fs::last_write_time(folder, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    const auto songs = [&] { return testing::exportedSongs(exportFolder); };
    const auto finished = [&] { return p.finished(exportFolder); };

    // A start that plans nothing (no converter is made) still removes the
    // folders a killed start left behind, and only those.
    Settings(p.conf).setBoolean("autoReview", false);
    p.run([&] { return !fs::exists(abandoned); }, [] {});
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_FALSE(finished());
    Settings(p.conf).setBoolean("autoReview", true);

    p.run(finished, [&] { p.screenshot("real-window-finished"); });
    const auto first = songs();
    ASSERT_EQ(first.size(), 3U);  // the three songs of the ticked artist
    std::set<std::string> tags;   // artist / album / title
    for (const auto& [relative, time] : first) {
        const fs::path file = exportFolder / relative;
        tags.insert(tag(file, "artist") + " / " + tag(file, "album") + " / " + tag(file, "title"));
        EXPECT_NE(relative.find(tag(file, "title")), std::string::npos) << relative;
    }
    EXPECT_EQ(tags, (std::set<std::string>{"Aino Trio / Kesä / Aamu", "Aino Trio / Kesä / Ilta",
                                           "Aino Trio / Talvi / Lumi"}));
    EXPECT_TRUE(fs::exists(foreign));

    p.run(finished, [] {});
    EXPECT_EQ(songs(), first);  // nothing written again
}

// One export onto a folder that takes no writes (a card with its
// write-protect switch on): the songs are planned, then the run is refused
// with the destination's cause before a single song is converted, and the
// program stays up showing it.
TEST(RealWindowTest, AnExportOntoAReadOnlyFolderIsRefusedBeforeAnySongIsConverted) {
    testing::TempDir scratch;
    const fs::path card = scratch / "CARD";
    fs::create_directories(card);
    std::string whyNot;
    const auto mounted = testing::Tmpfs::mount(card, "size=1m", whyNot, MS_RDONLY);
    if (!mounted) GTEST_SKIP() << whyNot;
    RealProgram p(card);
    ASSERT_FALSE(p.x.display.empty()) << "Xvfb did not start (scripts/install-deps installs it)";
    // The system's ffmpeg, noting each start: the probes of planning, then
    // nothing more.
    const fs::path calls = scratch / "ffmpeg-calls";
    const fs::path ffmpeg = testing::writeScript(
        scratch / "ffmpeg", "echo \"$*\" >> " + testing::shellQuote(calls.string()) +
                                "\nexec /usr/bin/ffmpeg \"$@\"\n");
    p.environment.insert("TARVIK_FFMPEG", QString::fromStdString(ffmpeg.string()));
    // One line for each of the ticked artist's three songs whose tags were read.
    const auto probes = [&] {
        const std::string lines = fs::exists(calls) ? testing::readFile(calls) : "";
        return std::count(lines.begin(), lines.end(), '\n') >= 3;
    };
    p.run(probes, [&] { p.screenshot("real-window-read-only"); });
    EXPECT_TRUE(probes());
    EXPECT_EQ(testing::readFile(calls).find("libmp3lame"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(card));
    EXPECT_FALSE(p.finished(card));
}

}  // namespace
}  // namespace tarvik
