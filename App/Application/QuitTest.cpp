// The program itself with a folder on a FUSE drive whose daemon is stopped
// (a USB disk spinning up, a share that dropped): its music folder, or the
// export folder its send window lists. A quit ends it at once, though its
// looks at the folder are held by the drive. The logout's SIGTERM goes the
// way of Ctrl+Q. A quit that waited for the drive would take as long as the
// drive is held, far beyond the limit here; a call the daemon had read when
// it was stopped holds only the zombie the program leaves.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <fstream>
#include <string>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/ProgramEnvironment.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The program on the settings in `home`, started and up: its music folder's
// first look wrote where the folder was seen, which takes the window's
// thread. False when it was not up within `within`.
bool startUp(QProcess& program, const fs::path& home, const QString& conf,
             std::chrono::seconds within) {
    program.setProcessEnvironment(testing::programEnvironment(home, "offscreen"));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(TARVIK_PROGRAM, {});
    if (!program.waitForStarted()) return false;
    const bool up = testing::waitUntil(
        [&] {
            return Settings(conf).stringList("srcVolume").has_value() ||
                   program.state() != QProcess::Running;
        },
        within);
    return up && program.state() == QProcess::Running;
}

// Whether the program has ended as far as a program can: gone, or its main
// thread gone and the process left a zombie. A worker's call that the
// drive's daemon had read when it was stopped can be left by no process;
// the kernel ends it, and the program with it, once the drive answers.
bool ended(const QProcess& program) {
    if (program.state() == QProcess::NotRunning) return true;
    std::ifstream stat("/proc/" + std::to_string(program.processId()) + "/stat");
    std::string line;
    std::getline(stat, line);
    // "pid (name) state …"
    const std::size_t name = line.rfind(')');
    return name != std::string::npos && name + 2 < line.size() && line[name + 2] == 'Z';
}

// Ends the program as a logout does: at once, though a drive holds its workers.
void expectQuickQuit(QProcess& program, const char* what) {
    QElapsedTimer clock;
    clock.start();
    program.terminate();
    bool quit = false;
    while (!(quit = ended(program)) && clock.elapsed() < 5000) program.waitForFinished(20);
    std::fprintf(stderr, "[ measured ] a quit %s ended after %lld ms\n", what,
                 static_cast<long long>(clock.elapsed()));
    EXPECT_TRUE(quit) << "the quit waited on the stopped drive";
    program.waitForFinished(30000);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

TEST(QuitTest, AQuitEndsTheProgramWhileItsMusicDriveDoesNotAnswer) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({"Aino Trio", "Beta Band"}, whyNot);
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path music = drive->music;

    testing::TempDir home;
    const QString conf = QString::fromStdString((home / "config/Tarvik/Tarvik.conf").string());
    {
        Settings settings(conf);
        settings.setBoolean("onboarded", true);
        settings.setString("appearance", "light");
        settings.setString("srcPath", music.string());
        settings.setStringList("selected", {"Aino Trio"});
    }
    QProcess program;
    ASSERT_TRUE(startUp(program, home.path(), conf, 120s));

    {
        const testing::StoppedDaemon stopped(drive->daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        // The watch looks every two seconds: by now a look is held.
        testing::waitUntil([] { return false; }, 3s);
        expectQuickQuit(program, "with the music drive stopped");
    }
    EXPECT_EQ(Settings(conf).stringList("selected"), std::vector<std::string>{"Aino Trio"});
}

// The send window opened at the start ("autoSend") on an export folder of
// such a drive, stopped before the program starts: the program comes up, the
// window's looks at the folder held, and a quit ends it at once. A window
// that asked the folder itself would hold the program until the drive
// answers again, long after both limits here.
TEST(QuitTest, AQuitEndsTheProgramWhileTheSendWindowsFolderDoesNotAnswer) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({}, whyNot, "EXPORT");
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path exports = drive->card->root() / "Export";
    testing::writeFile(exports / "Aino Trio" / "Kesä" / "01 Aamu.mp3", "x");
    // Put in again: the kernel remembers no name of it, and asks its daemon.
    ASSERT_TRUE(drive->card->unmount() && drive->card->mount());
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(drive->card->root());
    ASSERT_TRUE(daemon);

    testing::TempDir home;
    const QString conf = QString::fromStdString((home / "config/Tarvik/Tarvik.conf").string());
    fs::create_directories(home / "Music" / "Aino Trio");
    {
        Settings settings(conf);
        settings.setBoolean("onboarded", true);
        settings.setBoolean("autoSend", true);
        settings.setString("appearance", "light");
        settings.setString("srcPath", (home / "Music").string());
        settings.setString("sendSource", exports.string());
        settings.setString("lastExportPath", exports.string());
    }
    const testing::StoppedDaemon stopped(*daemon, 100s);
    ASSERT_TRUE(stopped.stopped());
    QProcess program;
    ASSERT_TRUE(startUp(program, home.path(), conf, 90s)) << "the send window held the program";
    // The window's look and scan are held by now.
    testing::waitUntil([] { return false; }, 1s);
    expectQuickQuit(program, "with the send window's folder stopped");
    EXPECT_EQ(Settings(conf).string("sendSource"), exports.string());
}

}  // namespace
}  // namespace tarvik
