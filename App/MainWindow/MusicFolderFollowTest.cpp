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

    // Step 1's tick and the sidebar's list, or its "not found", as the window shows them.
    static bool showsFolder(MainWindow& window, bool there) {
        auto* step = window.findChild<StepMusicCard*>();
        auto* sidebar = window.findChild<QWidget*>("artistSidebar");
        return step->findChild<StepBadge*>()->done() == there &&
               shown(*sidebar, "artistList") == there &&
               (there || labelText(*sidebar, "sidebarEmptyText") == notFound);
    }

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
    ASSERT_TRUE(showsFolder(window, false));
    awayAndBack(window, 2, false);
}

}  // namespace
}  // namespace tarvik
