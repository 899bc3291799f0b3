// The main window follows its music folder going and coming back by itself,
// before and after runs of every ending, with nothing but the event loop
// turning: no click, no return to the window.
#include <gtest/gtest.h>

#include <QDialog>
#include <atomic>

#include "App/Kit/StepBadge.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Model/ExportTesting.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::click;
using testing::labelText;
using testing::shown;

constexpr const char* notFound =
    "音楽フォルダが見つかりません。\nつなぎ直すか、選び直してください。";

// Step 1's tick and the sidebar's list, or its "not found", as the window shows them.
bool showsFolder(MainWindow& window, bool there) {
    auto* step = window.findChild<StepMusicCard*>();
    auto* sidebar = window.findChild<QWidget*>("artistSidebar");
    return step->findChild<StepBadge*>()->done() == there &&
           shown(*sidebar, "artistList") == there &&
           (there || labelText(*sidebar, "sidebarEmptyText") == notFound);
}

class MusicFolderFollowTest : public testing::ExportTest {
protected:
    MusicFolderFollowTest() {
        xdg.settings()->setBoolean("onboarded", true);
        xdg.settings()->setStringList("selected", {"Band"});
    }
    ~MusicFolderFollowTest() override {
        // The library serves the suite's next test.
        if (fs::exists(away())) fs::rename(away(), library());
    }
    static fs::path away() { return library().string() + "-away"; }

    // The folder goes away and comes back `times` times (ending where it
    // started); each way, the window follows within a second.
    static void awayAndBack(MainWindow& window, int times, bool startsThere = true) {
        bool there = startsThere;
        for (int change = 0; change < 2 * times; ++change) {
            there ? fs::rename(library(), away()) : fs::rename(away(), library());
            there = !there;
            EXPECT_TRUE(testing::waitUntil([&] { return showsFolder(window, there); }, 1s))
                << "change " << change << (there ? ": back" : ": away");
        }
    }

    // Starts the export from the window and confirms the review.
    static void runFromTheWindow(MainWindow& window, AppModel& model) {
        click(window, "startButton");
        ASSERT_TRUE(testing::waitUntil([&] { return window.reviewSheet() != nullptr; }, 60s))
            << model.state().message;
        click(*window.reviewSheet(), "reviewConfirmButton");
        ASSERT_TRUE(
            testing::waitUntil([&] { return model.state().is(RunState::Case::finished); }, 60s));
    }
};

TEST_F(MusicFolderFollowTest, AfterACompleteRunTheFolderGoingAndComingBackShowsEachTime) {
    auto model = makeModel();
    MainWindow window(*model, {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    awayAndBack(window, 1);  // before any run, too
    runFromTheWindow(window, *model);
    ASSERT_EQ(model->state().summary.progress.done, 14);
    ASSERT_TRUE(showsFolder(window, true));
    awayAndBack(window, 2);
}

// The folder goes while the third song is read: the run stops for it, and
// the window then sees it come back, go again and come back.
TEST_F(MusicFolderFollowTest, AfterARunHaltedByTheVanishedFolderItsReturnAndNextGoingShow) {
    std::atomic<bool> taken = false;
    converter.onStart([&](const Converter::Job& job) {
        if (job.source.filename() != "03 Song A03.flac" || taken.exchange(true)) return;
        fs::rename(library(), away());
        throw ConversionError(job.source.string() + ": ファイルがありません");
    });
    auto model = makeModel();
    MainWindow window(*model, {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    runFromTheWindow(window, *model);
    ASSERT_EQ(model->state().summary.halt, ConversionEvent::Halt::musicFolderLost);
    // Songs that ended after the halt count as well: the summary says what the card holds.
    EXPECT_EQ(model->state().summary.progress.done,
              static_cast<std::int64_t>(testing::pathsBelow(card.path()).size()));
    ASSERT_TRUE(testing::waitUntil([&] { return showsFolder(window, false); }, 1s));
    awayAndBack(window, 2, false);
}

// The music folder on a drive: a stand-in volume list with its mount events,
// and a real folder for the mount point. Unmounted, the drive's folders leave
// with it, and either its mount folder stays behind, empty (a fixed mount
// point), or it goes and is made anew, empty, a moment before the next mount
// (as udisks does). Meanwhile step 1 says the folder is missing and 次へ is
// off; the ticks stay stored and come back, shown, with the drive.
TEST(MusicDriveTest, TheTicksSurviveTheDrivesAbsenceAndItsEmptyMountFolder) {
    const struct {
        const char* what;
        bool onTheDrive;        // the music folder is a folder on the drive, not the drive itself
        bool mountFolderStays;  // a fixed mount point, not one made for each mount
    } cases[] = {
        {"a fixed mount point", false, true},
        {"a mount folder made for each mount", false, false},
        {"a folder on the drive", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir media;
        const fs::path point = media / "MUSIC";
        const fs::path music = c.onTheDrive ? point / "Library" : point;
        const fs::path unplugged = media / "drive";  // the drive's folders while it is out
        for (const char* artist : {"Aurora", "Borealis", "Comet"})
            fs::create_directories(music / artist / "Album");
        testing::ModelFixture f([&](Settings& settings) {
            settings.setBoolean("onboarded", true);
            settings.setString("srcPath", music.string());
            settings.setStringList("selected", {"Aurora", "Comet"});
        });
        f.volumes->mount(testing::FixtureVolumes::card(point));
        MainWindow window(*f.model, {});
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const auto stored = f.xdg.settings()->stringList("selected");
        auto* step = window.findChild<StepMusicCard*>();
        const auto showsTicks = [&] {
            return showsFolder(window, true) &&
                   labelText(*step, "musicStatus") == "2 組のアーティストを選んでいます";
        };
        ASSERT_TRUE(showsTicks());

        fs::rename(point, unplugged);
        if (c.mountFolderStays) fs::create_directory(point);
        f.volumes->unmount(point);
        EXPECT_TRUE(testing::waitUntil([&] { return showsFolder(window, false); }, 1s));
        if (!c.mountFolderStays) fs::create_directory(point);
        testing::waitUntil([] { return false; }, 400ms);  // the folder's watch has looked
        EXPECT_TRUE(showsFolder(window, false));
        EXPECT_EQ(labelText(*step, "musicStatus"),
                  "音楽フォルダが見つかりません。つなぎ直すか、選び直してください。");
        EXPECT_FALSE(testing::child(window, "startButton")->isEnabled());
        EXPECT_EQ(f.xdg.settings()->stringList("selected"), stored);

        fs::remove(point);
        fs::rename(unplugged, point);
        f.volumes->mount(testing::FixtureVolumes::card(point));
        EXPECT_TRUE(testing::waitUntil(showsTicks, 1s));
        EXPECT_EQ(f.model->selected(), (std::set<std::string>{"Aurora", "Comet"}));
        EXPECT_EQ(f.xdg.settings()->stringList("selected"), stored);
    }
}

}  // namespace
}  // namespace tarvik
