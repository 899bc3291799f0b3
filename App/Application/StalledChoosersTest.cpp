// The folder choosers of the main window and its menu, each asked for while
// the folder it would open in lies on a real FUSE drive whose daemon is
// stopped (a USB disk spinning up, a share that dropped): the chooser opens
// within a second, in the home folder, and once the drive answers again the
// next one opens in the folder. The chooser is the real one, made and dropped
// unseen (Dialogs::Script), so that whatever it reads on the window's thread
// is read here too: a call into the stopped drive would hold the event loop
// for the whole stop, and the limit of a second is one that only it exceeds,
// whatever the machine's load.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>

#include "App/Application/ApplicationTesting.hpp"
#include "App/Model/ChooserStarts.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::waitUntil;

struct Chooser {
    std::string name;
    std::function<void(AppModel&)> prepare;
    std::function<void(testing::AppFixture&)> ask;
    fs::path wanted;
};

TEST(StalledChoosersTest, AChooserOpensAtOnceAtHomeWhileItsFolderDoesNotAnswer) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({"Aoi"}, whyNot, "CARD");
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path media = drive->card->root().parent_path();
    testing::TempDir local;
    fs::create_directories(local / "Music" / "Bob");
    fs::create_directory_symlink(drive->music / "Aoi", local / "Music" / "Aoi");

    Dialogs::Script script;  // nothing prepared: every chooser is cancelled
    testing::AppFixture fx({}, [&](AppModel::Services& services) {
        services.mediaFolder = [media] { return media; };
    });
    fx.app->show();
    const auto click = [](const char* button) {
        return
            [button](testing::AppFixture& app) { testing::click(app.app->mainWindow(), button); };
    };
    const auto clean = [](testing::AppFixture& app) {
        app.action("libraryMenu", "SD カードを掃除して名前を整える…")->trigger();
    };
    const std::vector<Chooser> choosers = {
        {"the music folder's", [&](AppModel& m) { m.setSrcPath(drive->music.string()); },
         click("musicFolderButton"), drive->music},
        {"the music folder's, an artist linked onto the drive",
         [&](AppModel& m) { m.setSrcPath((local / "Music").string()); }, click("musicFolderButton"),
         local / "Music"},
        {"the destination's, the drive mounted where cards are", [](AppModel&) {},
         click("otherFolderButton"), media},
        {"the cleaning's, the drive the destination",
         [&](AppModel& m) { m.setDestPath(drive->card->root().string()); }, clean,
         drive->card->root()},
        {"the cleaning's, no destination", [](AppModel& m) { m.setDestPath(""); }, clean, media},
    };
    // The folder the next chooser was asked to open in; the time it took to open.
    QElapsedTimer clock;
    const auto nextStart = [&](const Chooser& chooser, int clicks = 1) {
        const std::size_t before = script.folderRequests().size();
        clock.start();
        for (int n = 0; n < clicks; ++n) chooser.ask(fx);
        if (!waitUntil([&] { return script.folderRequests().size() > before; }, 5s))
            return fs::path("(never opened)");
        return script.folderRequests().back().start;
    };

    for (const Chooser& chooser : choosers) {
        SCOPED_TRACE(chooser.name);
        chooser.prepare(fx.app->model());
        ASSERT_TRUE(testing::settle(fx.app->model()));
        EXPECT_EQ(nextStart(chooser), chooser.wanted);
        // Put in again: the kernel remembers nothing of the drive, so that
        // every look at it asks its daemon.
        ASSERT_TRUE(drive->card->unmount() && drive->card->mount());
        const std::optional<pid_t> daemon = testing::fuseDaemonServing(drive->card->root());
        ASSERT_TRUE(daemon);
        {
            const testing::LoopGaps gaps;
            const testing::StoppedDaemon stopped(*daemon, 10s);
            ASSERT_TRUE(stopped.stopped());
            // Clicked twice: one chooser.
            EXPECT_EQ(nextStart(chooser, 2), ChooserStarts::home());
            const qint64 opened = clock.elapsed();
            EXPECT_LT(opened, 1000);
            const std::size_t asked = script.folderRequests().size();
            QTest::qWait(200);
            EXPECT_EQ(script.folderRequests().size(), asked);
            EXPECT_LE(gaps.longest(), 1s);
            std::fprintf(stderr,
                         "[ measured ] %s chooser opened after %lld ms; the event loop's longest "
                         "pause: %lld ms\n",
                         chooser.name.c_str(), static_cast<long long>(opened),
                         static_cast<long long>(gaps.longest().count()));
        }
        // Answering again: the next chooser opens in the folder.
        EXPECT_TRUE(waitUntil([&] { return nextStart(chooser) == chooser.wanted; }, 10s));
    }

    // Everything left on the drive has ended before it goes.
    fx.app.reset();
    EXPECT_TRUE(waitUntil([] { return DetachedTask::running() == 0; }, 20s));
}

}  // namespace
}  // namespace tarvik
