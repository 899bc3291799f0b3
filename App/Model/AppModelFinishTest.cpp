// The end of a run as the model applies it: the carry-over to the next card,
// the folders freed while the run goes on, the run's log lines, and the signals
// on the desktop, with the scripted converter.
#include <gtest/gtest.h>

#include <algorithm>

#include "App/Model/ExportTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Case = RunState::Case;
using Ending = testing::ScriptedConverter::Ending;

class AppModelFinishTest : public testing::ExportTest {};

// The carry-over's rule for each ending is the export texts' test; here the
// model applies it to a full card and keeps it for the next start.
TEST_F(AppModelFinishTest, AFullCardsCarryOverIsKeptForTheNextStart) {
    const std::set<std::string> earlier = {"MUSIC/Old/1 Old.mp3"};
    for (const bool continuing : {false, true}) {
        SCOPED_TRACE(continuing);
        testing::TempDir cardDir;
        converter.script("03 Song B03.flac", {Ending::noSpace});
        auto volumes = std::make_shared<testing::FixtureVolumes>();
        volumes->add(testing::FixtureVolumes::card(cardDir.path(), 1'000'000'000));
        auto model = makeModel([&](AppModel::Services& services) { services.volumes = volumes; });
        model->setDestPath(cardDir.path().string());
        model->setCarryOver(earlier);
        model->setContinuing(continuing);
        volumes->setAvailable(cardDir.path(), 5'000);  // what the run leaves free
        runToFinish(*model);
        // The card's free space is read again, and the summary keeps its card wording.
        ASSERT_EQ(model->volumes().size(), 1U);
        EXPECT_EQ(model->volumes()[0].free, 5'000);
        EXPECT_TRUE(model->state().toCard);

        const std::vector<std::string>& placed = model->state().summary.placed;
        ASSERT_FALSE(placed.empty());
        std::set<std::string> expected(placed.begin(), placed.end());
        if (continuing) expected.insert(earlier.begin(), earlier.end());
        EXPECT_EQ(model->carryOver(), expected);
        AppModel next(AppModelTesting::services(xdg));
        EXPECT_EQ(next.carryOver(), expected);
        EXPECT_EQ(next.continuing(), continuing);
    }
}

// The road through the review and the run. Planning's lines go when the run
// starts; each track of the run adds its line. Album B is slow: album A, its
// last track failing, is freed long before.
TEST_F(AppModelFinishTest, FailedTracksAreCountedLoggedAndSoundedAndFoldersFreedOnTheirLastItem) {
    for (char n = '1'; n <= '7'; ++n)
        converter.script(std::string{'0', n} + " Song B0" + n + ".flac",
                         {Ending::write, std::chrono::milliseconds(150)});
    converter.script("02 Song A02.flac", {Ending::fail});
    converter.script("07 Song A07.flac", {Ending::fail});
    auto model = makeModel();
    std::vector<std::pair<Case, std::set<std::string>>> seen;
    QObject::connect(model.get(), &AppModel::writingFoldersChanged, model.get(),
                     [&] { seen.emplace_back(model->state().kind, model->writingFolders()); });
    model->setCarryOver({"MUSIC/Old/1 Old.mp3"});
    model->setContinuing(true);
    planToReview(*model);
    model->appendLog(LogLine::Kind::info, "planning");
    model->startConversion();
    EXPECT_EQ(model->progress().total, 14);
    EXPECT_EQ(model->writingFolders(), (std::set<std::string>{"MUSIC/Band/A", "MUSIC/Band/B"}));
    ASSERT_TRUE(waitForState(*model, Case::finished));
    EXPECT_EQ(states,
              (std::vector<Case>{Case::planning, Case::reviewing, Case::running, Case::finished}));
    EXPECT_EQ(model->progress(), model->state().summary.progress);
    EXPECT_EQ(testing::filesBelow(card.path()).size(), 12U);
    // A folder chosen outside the volume list is remembered for sending.
    EXPECT_EQ(model->lastExportPath(), card.path().string());
    const std::pair<Case, std::set<std::string>> onlyB{Case::running, {"MUSIC/Band/B"}};
    EXPECT_NE(std::find(seen.begin(), seen.end(), onlyB), seen.end());
    EXPECT_TRUE(model->writingFolders().empty());
    EXPECT_TRUE(model->carryOver().empty());  // a complete run ends the continuation
    EXPECT_FALSE(model->continuing());

    const std::vector<std::string> log = logTexts(*model);
    EXPECT_EQ(std::count(log.begin(), log.end(), "planning"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "[失敗] 02 Song A02.flac\n    変換できません: 02 Song A02.flac"),
              1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "変換 MUSIC/Band/A/01 Song A01.mp3"), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("変換 "); }),
              12);
    EXPECT_EQ(
        std::pair(model->state().summary.progress.done, model->state().summary.progress.failed),
        std::pair(12L, 2L));
    EXPECT_EQ(desktop->calls,
              (std::vector<std::string>{
                  "inhibit SD カードへの音楽変換", "release", "sound error", "attention",
                  "notify 書き出しが終わりました | 12 曲を書き出しました（2 曲は失敗）"}));
    EXPECT_EQ(desktop->inhibitorsHeld, 0);
}

// The notification on a real bus is the desktop signals' test.
TEST_F(AppModelFinishTest, TheDesktopHearsNothingWhileUiTesting) {
    xdg.settings()->setBoolean("uiTesting", true);
    converter.script("02 Song A02.flac", {Ending::fail});
    auto model = makeModel();
    runToFinish(*model);
    EXPECT_EQ(model->state().summary.progress.failed, 1);
    EXPECT_TRUE(desktop->calls.empty());
}

}  // namespace
}  // namespace tarvik
