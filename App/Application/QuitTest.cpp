// The program itself, its music folder on a FUSE drive whose daemon is
// stopped (a USB disk spinning up, a share that dropped): a quit ends it at
// once, though the watch of the folder is held by the drive. The logout's
// SIGTERM goes the way of Ctrl+Q. The drive is held for ten seconds; a quit
// that waited for it would take that long, far beyond the limit here.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>

#include "App/Platform/Settings.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/ProgramEnvironment.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
    program.setProcessEnvironment(testing::programEnvironment(home.path(), "offscreen"));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(TARVIK_PROGRAM, {});
    ASSERT_TRUE(program.waitForStarted());
    // Up once its music folder's first look wrote where the folder was seen.
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            return Settings(conf).stringList("srcVolume").has_value() ||
                   program.state() != QProcess::Running;
        },
        120s));
    ASSERT_EQ(program.state(), QProcess::Running);

    {
        const testing::StoppedDaemon stopped(drive->daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        // The watch looks every two seconds: by now a look is held.
        testing::waitUntil([] { return false; }, 3s);
        QElapsedTimer clock;
        clock.start();
        program.terminate();
        const bool ended = program.waitForFinished(5000);
        std::fprintf(stderr,
                     "[ measured ] a quit with the music drive stopped ended after %lld ms\n",
                     static_cast<long long>(clock.elapsed()));
        EXPECT_TRUE(ended) << "the quit waited on the stopped drive";
        if (!ended) program.waitForFinished(30000);
    }
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(Settings(conf).stringList("selected"), std::vector<std::string>{"Aino Trio"});
}

}  // namespace
}  // namespace tarvik
