// The road of one export through the model: planning, review, run, and the
// ways it can stop or fail on the way.
#include <gtest/gtest.h>

#include <QTest>
#include <thread>

#include "App/Model/ExportDestination.hpp"
#include "App/Model/ExportTesting.hpp"
#include "App/Model/ExportTexts.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Case = RunState::Case;

class AppModelExportTest : public testing::ExportTest {};

TEST_F(AppModelExportTest, StartingWhileBusyChangesNothingAndCancelInTheReviewOnlySaysSo) {
    auto model = makeModel();
    model->startPlanning();
    model->startPlanning();
    ASSERT_TRUE(waitForState(*model, Case::reviewing));
    model->cancel();
    EXPECT_TRUE(model->state().is(Case::reviewing));
    EXPECT_EQ(model->phaseText(), "中止しています…");

    converter.script("01 Song A01.flac", {testing::ScriptedConverter::Ending::waitForStop});
    model->setCarryOver({"MUSIC/Old/1.mp3"});
    model->startConversion();
    model->startPlanning();
    model->startConversion();
    model->resetRun();
    EXPECT_TRUE(model->state().is(Case::running));
    // A failure of a source the plan does not hold frees no folder.
    const std::set<std::string> writing = model->writingFolders();
    model->handleEvent(ConversionEvent::failed("/elsewhere/x.flac", "読めません"));
    EXPECT_EQ(model->writingFolders(), writing);
    EXPECT_EQ(logTexts(*model).back(), "[失敗] x.flac\n    読めません");
    model->cancel();
    ASSERT_TRUE(waitForState(*model, Case::finished));
    EXPECT_TRUE(model->state().summary.stopped);
    EXPECT_EQ(model->carryOver(), (std::set<std::string>{"MUSIC/Old/1.mp3"}));  // kept by a stop
    EXPECT_TRUE(desktop->calls.back().starts_with("notify 中止しました | "))
        << desktop->calls.back();
    EXPECT_EQ(states,
              (std::vector<Case>{Case::planning, Case::reviewing, Case::running, Case::finished}));
    model->resetRun();
    EXPECT_TRUE(model->state().is(Case::idle));
    EXPECT_FALSE(model->plan());
}

TEST_F(AppModelExportTest, AStopDuringPlanningEndsIdleWithoutReviewOrRun) {
    for (const bool skipReview : {false, true}) {
        // Late: stop only once the pass has its plan, before the GUI thread heard of it.
        for (const bool late : {false, true}) {
            SCOPED_TRACE(::testing::Message() << skipReview << late);
            states.clear();
            auto model = makeModel();
            model->setSkipReview(skipReview);
            model->startPlanning();
            if (late) std::this_thread::sleep_for(std::chrono::seconds(3));
            model->cancel();
            ASSERT_TRUE(waitForState(*model, Case::idle));
            QTest::qWait(100);
            EXPECT_EQ(states, (std::vector<Case>{Case::planning, Case::idle}));
            EXPECT_TRUE(testing::filesBelow(card.path()).empty());
        }
    }
}

// A run that cannot start (ffmpeg gone since planning, with or without the
// review; no such unit; no destination, though the dry run needs none) fails,
// writes nothing and keeps the carry-over of the cards before.
TEST_F(AppModelExportTest, PlanningOrARunThatCannotStartFailsAndWritesNothing) {
    {
        auto model = makeModel();
        model->setSrcPath((card.path() / "no music here").string());
        model->startPlanning();
        ASSERT_TRUE(waitForState(*model, Case::failed));
        model->startPlanning();  // a failed pass may be tried again
        EXPECT_TRUE(model->state().is(Case::planning));
        ASSERT_TRUE(waitForState(*model, Case::failed));
    }
    const std::string card_ = card.path().string(), gone = (card.path() / "unplugged").string();
    const std::string noFFmpeg =
        "アプリの中に ffmpeg が見つかりません。アプリを入れ直してください。";
    const std::string notFound(ExportDestination::notFound);
    const std::set<std::string> carried = {"MUSIC/Band/A/01 Song A01.mp3"};
    // destination, unit chosen in the review, ffmpeg at the run, skip the review, why
    const std::vector<std::tuple<std::string, std::string, bool, bool, std::string>> cases = {
        {card_, "", false, true, noFFmpeg},
        {card_, "", false, false, noFFmpeg},
        {card_, "no-such-unit", true, false, "カーナビの機種を選んでください。"},
        {"", "", true, false, notFound},
        {gone, "", true, false, notFound},
    };
    for (const auto& [destPath, unit, ffmpegAtRun, skipReview, why] : cases) {
        SCOPED_TRACE(destPath + unit + why);
        int asked = 0;
        locateFFmpeg = [&asked, ffmpegAtRun]() -> std::optional<fs::path> {
            if (asked++ > 0 && !ffmpegAtRun) return std::nullopt;
            return "/usr/bin/ffmpeg";
        };
        auto model = makeModel();
        model->setDestPath(destPath);
        model->setContinuing(true);
        model->setCarryOver(carried);
        model->setSkipReview(skipReview);
        model->startPlanning();
        ASSERT_TRUE(testing::waitUntil([&] { return !model->state().is(Case::planning); }));
        if (!skipReview) {
            ASSERT_TRUE(model->state().is(Case::reviewing)) << model->state().message;
            if (!unit.empty()) model->setProfileId(unit);
            model->startConversion();
        }
        EXPECT_EQ(model->state(), RunState::failed(why));
        EXPECT_EQ(model->carryOver(), carried);
        EXPECT_TRUE(model->continuing());
    }
    EXPECT_TRUE(testing::filesBelow(card.path()).empty());
    EXPECT_FALSE(fs::exists("/tmp/MUSIC/Band"));
    EXPECT_TRUE(desktop->calls.empty());
}

// A catalogue that cannot open fails planning.
TEST_F(AppModelExportTest, TheCatalogueTakesOverTheOlderCacheOnceOrFailsPlanning) {
    testing::writeFile(xdg.support() / "catalog_cache.json",
                       R"({"https://x/search?term=a": [{"trackName": "A"}]})");
    auto model = makeModel();
    ASSERT_NE(model->makeCatalog(), nullptr);
    EXPECT_TRUE(testing::waitUntil(
        [&] { return fs::exists(xdg.support() / "catalog_cache.json.imported"); }));

    fs::remove_all(xdg.support() / "catalog.sqlite");
    fs::create_directories(xdg.support() / "catalog.sqlite");
    model->setLookup(true);
    model->startPlanning();
    ASSERT_TRUE(model->state().is(Case::failed));
    EXPECT_TRUE(model->state().message.starts_with("キャッシュを開けません"))
        << model->state().message;
}

}  // namespace
}  // namespace tarvik
