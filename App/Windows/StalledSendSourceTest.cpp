// The send window's export folder on a real FUSE drive whose daemon is
// stopped for ten seconds (a USB disk spinning up, a share that dropped):
// the window appears, asks for its chooser and takes a folder without a call
// into the drive on its own thread, and lists the drive's albums once it
// answers. Such a call would hold the event loop for the whole stop; the
// limit of a second is one that only it exceeds, whatever the machine's load.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdio>

#include "App/Kit/Dialogs.hpp"
#include "App/Model/ChooserStarts.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::waitUntil;
using testing::writeAlbum;

// Prints a figure the report quotes.
void tell(const char* what, qint64 milliseconds) {
    std::fprintf(stderr, "[ measured ] %s: %lld ms\n", what, static_cast<long long>(milliseconds));
}

class StalledSendSourceTest : public ::testing::Test {
protected:
    // Chooses `folder` through the source box's chooser; the folder the
    // chooser was to open in.
    std::optional<fs::path> choose(SendToSDView& view, const fs::path& folder) {
        Dialogs::Script script;
        script.answerFolder(folder);
        testing::click(view, "chooseSourceButton");
        if (!waitUntil([&] { return !script.folderRequests().empty(); }, 5s)) return std::nullopt;
        return script.folderRequests().front().start;
    }
    // The artists listed, in list order.
    static std::vector<std::string> artists(SendToSDState& state) {
        std::vector<std::string> names;
        for (const SDCardTools::Album& album : state.albums()) names.push_back(album.artist);
        return names;
    }
};

TEST_F(StalledSendSourceTest, TheWindowNeverWaitsOnAStoppedSourceAndListsItOnceItAnswers) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({}, whyNot, "EXPORT");
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path exports = drive->card->root() / "タルヴィク";
    writeAlbum(exports / "Aoi" / "First", 2, 100);
    writeAlbum(exports / "Bob" / "Live", 1, 100);
    const fs::path other = drive->card->root() / "Other";
    writeAlbum(other / "Cai" / "Solo", 1, 100);
    testing::TempDir local;
    writeAlbum(local / "Dan" / "Home", 1, 100);
    // Put in again: the kernel remembers no name of the drive, so that every
    // look at it asks its daemon.
    ASSERT_TRUE(drive->card->unmount() && drive->card->mount());
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(drive->card->root());
    ASSERT_TRUE(daemon);
    // The suggestion is asked about too: the last export went to the drive.
    testing::ModelFixture f([&](Settings& settings) {
        settings.setString("sendSource", exports.string());
        settings.setString("lastExportPath", exports.string());
    });
    auto view = std::make_unique<SendToSDView>(*f.model, [] {});
    view->resize(820, 760);
    SendToSDState& state = view->state();
    QElapsedTimer clock;

    {
        const testing::LoopGaps gaps;
        const testing::StoppedDaemon stopped(*daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        // Opened: the stored folder is kept, being checked, and not listed yet.
        view->show();
        EXPECT_TRUE(
            waitUntil([&] { return testing::child(*view, "albumsChecking")->isVisible(); }));
        EXPECT_EQ(state.source(), exports.string());
        // Chosen again: the chooser opens in the home folder, not in the one
        // that does not answer.
        EXPECT_EQ(choose(*view, exports), ChooserStarts::home());
        EXPECT_EQ(state.source(), exports.string());
        EXPECT_TRUE(state.albums().empty());
        EXPECT_LE(gaps.longest(), 1s);
        tell("the event loop's longest pause while the window opened", gaps.longest().count());
        clock.start();
    }
    // Answering again: its albums are listed.
    EXPECT_TRUE(waitUntil([&] { return state.albums().size() == 2 && !state.loading(); }, 20s));
    tell("the albums were listed after the drive answered again", clock.elapsed());

    {
        const testing::LoopGaps gaps;
        const testing::StoppedDaemon stopped(*daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        // Another folder of the stopped drive is taken; its list waits for it.
        EXPECT_EQ(choose(*view, other), ChooserStarts::home());
        EXPECT_EQ(state.source(), other.string());
        EXPECT_TRUE(
            waitUntil([&] { return testing::child(*view, "albumsChecking")->isVisible(); }));
        // A folder elsewhere is listed meanwhile, as soon as the stopped scan is left.
        clock.restart();
        EXPECT_EQ(choose(*view, local.path()), ChooserStarts::home());
        EXPECT_TRUE(
            waitUntil([&] { return artists(state) == std::vector<std::string>{"Dan"}; }, 5s));
        tell("a folder elsewhere was listed beside the stopped drive after", clock.elapsed());
        EXPECT_FALSE(state.loading());
        // And back to the drive's folder.
        EXPECT_EQ(choose(*view, other), local.path());
        EXPECT_LE(gaps.longest(), 1s);
        tell("the event loop's longest pause while folders were chosen", gaps.longest().count());
    }
    EXPECT_TRUE(waitUntil([&] { return artists(state) == std::vector<std::string>{"Cai"}; }, 20s));

    // Everything left on the drive has ended before it goes.
    view.reset();
    f.model.reset();
    EXPECT_TRUE(waitUntil([] { return DetachedTask::running() == 0; }, 20s));
}

}  // namespace
}  // namespace tarvik
