// The road of one export through the model: planning, review, run, the ways
// it can stop or fail on the way, and the end of a run as the model applies
// it (carry-over, folders freed while the run goes on, log lines, the
// desktop's signals), with the scripted converter.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <thread>

#include "App/Model/ExportDestination.hpp"
#include "App/Model/ExportTesting.hpp"
#include "App/Model/ExportTexts.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Case = RunState::Case;
using Ending = testing::ScriptedConverter::Ending;

class AppModelExportTest : public testing::ExportTest {};

TEST_F(AppModelExportTest, StartingWhileBusyChangesNothingAndCancelInTheReviewOnlySaysSo) {
    auto model = makeModel();
    model->startPlanning();
    model->startPlanning();
    ASSERT_TRUE(waitForState(*model, Case::reviewing));
    model->cancel();
    EXPECT_TRUE(model->state().is(Case::reviewing));
    EXPECT_EQ(model->phaseText(), "中止しています…");

    converter.script("01 Song A01.flac", {Ending::waitForStop});
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
        const fs::path empty = card.path() / "no music here";
        fs::create_directories(empty);
        model->setSrcPath(empty.string());
        ASSERT_TRUE(testing::settle(*model));
        model->startPlanning();
        ASSERT_TRUE(waitForState(*model, Case::failed));
        model->startPlanning();  // a failed pass may be tried again
        EXPECT_TRUE(model->state().is(Case::planning));
        ASSERT_TRUE(waitForState(*model, Case::failed));
        // A music folder that is gone is said so before anything is read,
        // once its watch has seen it go.
        fs::remove(empty);
        ASSERT_TRUE(testing::waitUntil([&] { return model->musicFolderMissing(); }));
        model->startPlanning();
        EXPECT_EQ(model->state(),
                  RunState::failed(std::string(ConversionRunner::musicFolderLostMessage)));
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

// An older AAC profile that names no tag format exports as it is (real
// conversions into .m4a files whose tags an independent reader finds), and
// is saved as it was read, in the current form under its id.
TEST_F(AppModelExportTest, AnOlderAACProfileWithoutATagFormatExportsAndSavesAsItIs) {
    if (const std::string missing = testing::missingProgram({"ffprobe"}); !missing.empty())
        GTEST_SKIP() << missing;
    const fs::path profiles = xdg.support() / "profiles";
    testing::writeFile(
        profiles / "old-aac.json",
        R"({"id": "old-aac", "name": "古いナビ", "codec": "aac", "bitrate": "128k"})");
    auto model = makeModel([](AppModel::Services& services) { services.convert = {}; });
    model->setProfileId("old-aac");
    model->setSelected({"Band/A"});
    runToFinish(*model);
    std::vector<std::string> titles;
    for (const auto& [path, bytes] : testing::filesBelow(card.path())) {
        EXPECT_TRUE(path.ends_with(".m4a")) << path;
        const auto title = testing::runCommand(
            {"ffprobe", "-v", "error", "-show_entries", "format_tags=title", "-of",
             "default=noprint_wrappers=1:nokey=1", (card.path() / path).string()});
        titles.push_back(title.output.substr(0, title.output.find('\n')));
    }
    EXPECT_EQ(titles.size(), 7U);
    EXPECT_EQ(titles.front(), "Song A01");

    const DeviceProfile read = *model->selectedProfile();
    EXPECT_EQ(read.tags.format, DeviceProfile::Tags::Format::mp4);
    model->saveProfile(read);
    const auto files = testing::filesBelow(profiles);
    ASSERT_EQ(files.size(), 1U);
    EXPECT_EQ(files.begin()->first, "old-aac.json");
    EXPECT_EQ(json::parse(files.begin()->second), read.toJson());
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

// An alias file that cannot be read whole is applied by neither the plan
// nor the run, and each of their logs says so once, naming the file; mended,
// it is applied again without a word.
TEST_F(AppModelExportTest, AnUnreadableAliasFileIsToldOnceInEachLogAndNotApplied) {
    const std::string whole = R"({"entries": [{"from": "Band", "to": "The Band"}]})";
    testing::writeFile(AppPaths::aliasesFile(), whole.substr(0, whole.size() - 3));
    const std::string notice =
        ExportTexts::aliasesNotApplied(AppPaths::aliasesFile(), "JSON として読めません");
    EXPECT_NE(notice.find(AppPaths::aliasesFile().string()), std::string::npos);
    const auto told = [&](const AppModel& model) {
        const std::vector<std::string> log = logTexts(model);
        return std::count(log.begin(), log.end(), notice);
    };
    auto model = makeModel();
    planToReview(*model);
    EXPECT_EQ(told(*model), 1);
    EXPECT_EQ(model->plan()->items.front().meta.albumArtist, "Band");
    model->startConversion();
    ASSERT_TRUE(waitForState(*model, Case::finished));
    EXPECT_EQ(told(*model), 1);

    testing::writeFile(AppPaths::aliasesFile(), whole);
    model->resetRun();
    planToReview(*model);
    EXPECT_EQ(told(*model), 0);
    EXPECT_EQ(model->plan()->items.front().meta.albumArtist, "The Band");
}

class AppModelFinishTest : public testing::ExportTest {};

// The carry-over's rule for each ending is the export texts' test; here the
// model applies it to a full card and keeps it for the next start. While UI
// testing the desktop hears nothing (the real bus's notification is the desktop
// signals' test).
TEST_F(AppModelFinishTest, AFullCardsCarryOverIsKeptForTheNextStart) {
    const std::set<std::string> earlier = {"MUSIC/Old/1 Old.mp3"};
    for (const bool continuing : {false, true}) {
        SCOPED_TRACE(continuing);
        testing::TempDir cardDir;
        desktop->calls.clear();
        xdg.settings()->setBoolean("uiTesting", continuing);
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

        const std::vector<std::string>& carried = model->state().summary.carried;
        ASSERT_FALSE(carried.empty());
        std::set<std::string> expected(carried.begin(), carried.end());
        if (continuing) expected.insert(earlier.begin(), earlier.end());
        EXPECT_EQ(model->carryOver(), expected);
        AppModel next(AppModelTesting::services(xdg));
        EXPECT_EQ(next.carryOver(), expected);
        EXPECT_EQ(next.continuing(), continuing);
        EXPECT_EQ(desktop->calls.empty(), continuing);
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
    // Another album's file (it carries that album's identity) holds B's
    // folder on the card: B goes to "B 2", which is busy while it is written.
    fs::create_directories(card.path() / "MUSIC/Band/B");
    ID3Writer::Tags other;
    other.albumIdentity = AlbumIdentity::of(TrackMeta("", "Other", "Other", "B", "", "", "", ""));
    testing::writeFile(card.path() / "MUSIC/Band/B/Other.mp3",
                       std::string(asText(ID3Writer{}.encodeV2(other, 0))) + "not this album's");
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
    EXPECT_EQ(model->progress(), model->state().summary.progress);
    // A folder chosen outside the volume list is remembered for sending.
    EXPECT_EQ(model->lastExportPath(), card.path().string());
    const std::pair<Case, std::set<std::string>> onlyB{Case::running,
                                                       {"MUSIC/Band/B", "MUSIC/Band/B 2"}};
    EXPECT_NE(std::find(seen.begin(), seen.end(), onlyB), seen.end());
    EXPECT_TRUE(model->writingFolders().empty());
    EXPECT_TRUE(model->carryOver().empty());  // a complete run ends the continuation
    EXPECT_FALSE(model->continuing());

    const std::vector<std::string> log = logTexts(*model);
    EXPECT_EQ(std::count(log.begin(), log.end(), "planning"), 0);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const auto& line) { return line.starts_with("変換 MUSIC/Band/"); }),
              12);
    EXPECT_EQ(desktop->calls,
              (std::vector<std::string>{
                  "inhibit SD カードへの音楽変換", "release", "sound error", "attention",
                  "notify 書き出しが終わりました | 12 曲を書き出しました（2 曲は失敗）"}));
    EXPECT_EQ(desktop->inhibitorsHeld, 0);
}

}  // namespace
}  // namespace tarvik
