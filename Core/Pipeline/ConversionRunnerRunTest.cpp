// A started run with a scripted converter: admission, skips, the parallel
// limit, a full card and its roll-back, junk, stopping and the handle, and
// runs that plan for themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing;
using E = ConversionEvent;
using Ending = ScriptedConverter::Ending;
using Texts = std::vector<std::string>;

// Reads until an event satisfies `wanted`; false when the events end first.
bool readUntil(ConversionRunner::Handle& handle, const std::function<bool(const E&)>& wanted) {
    while (std::optional<E> event = handle.events.next()) {
        if (wanted(*event)) return true;
    }
    return false;
}

TEST(ConversionRun, SkipsWhatIsThereOrCarriedOverAndRunsAtMostJobsAtOnce) {
    ConversionPlan plan = planOf({{"Album", 5}});
    plan.items[0].relativePath = "MUSIC/Album/1 Ca\u0301fe\u0301.mp3";  // decomposed
    const std::string p2 = plan.items[1].relativePath, p3 = plan.items[2].relativePath,
                      p5 = plan.items[4].relativePath;
    for (const std::int64_t jobs : {0, 1, 2}) {
        TempDir card;
        ConversionRunner runner = runnerFor(card.path(), jobs);
        runner.options.exclude = {"MUSIC/Album/1 C\u00e1f\u00e9.mp3"};  // composed
        runner.options.loudnessTarget = -16.0;
        writeFile(card / p2, "already there");
        ScriptedConverter converter;
        for (const char* name : {"3.flac", "5.flac"}) converter.script(name, {Ending::write, 50ms});
        converter.script("4.flac", {Ending::fail, 50ms});
        const std::vector<E> events = runToTheEnd(runner, plan, converter);

        EXPECT_EQ(converter.peak(), jobs);
        EXPECT_EQ(converter.started().size(), jobs ? 3U : 0U);
        if (jobs == 0) {
            EXPECT_EQ(trace(events), (Texts{"progress 0 0 0 / 5", "converting", "finishing",
                                            "done 0 skipped 0 failed 0"}));
            continue;
        }
        EXPECT_EQ(summaryOf(events).placed, (Texts{p2, p3, p5})) << jobs;
        EXPECT_EQ(describe(events.back()), "done 2 skipped 2 failed 1") << jobs;
        if (jobs == 2) continue;
        // The skipped event carries the plan's own text, not its composed form.
        EXPECT_EQ(
            trace(events),
            (Texts{"progress 0 0 0 / 5", "converting", "skipped " + plan.items[0].relativePath,
                   "progress 0 1 0 / 5", "skipped " + p2, "progress 0 2 0 / 5", "converted " + p3,
                   "progress 1 2 0 / 5", "failed /music/4.flac: 変換できません: 4.flac",
                   "progress 1 2 1 / 5", "converted " + p5, "progress 2 2 1 / 5", "finishing",
                   "done 2 skipped 2 failed 1"}));
        // No estimate before the first conversion; none left at the end.
        EXPECT_FALSE(events[5].as<E::Progress>()->etaSeconds.has_value());
        EXPECT_EQ(summaryOf(events).progress.etaSeconds, 0);
        EXPECT_EQ(converter.jobs().front(),
                  (Converter::Job{plan.items[2].source, card / p3, plan.items[2].meta, std::nullopt,
                                  -16.0, PosixFS::rootAt(card.path())}));
    }
}

TEST(ConversionRun, CardIsFullBelowTenMinutesAtTheBitRatePlusTheReserve) {
    using Case = std::tuple<int, std::optional<std::int64_t>, std::string>;
    for (const auto& [bitrate, room, outcome] :
         {Case{320, 76428800, "done 3 skipped 0 failed 0"},
          Case{320, 76428799, "done 0 skipped 0 failed 0 cardFull"},
          Case{128, std::nullopt, "done 3 skipped 0 failed 0"}}) {
        TempDir card;
        ConversionRunner runner = runnerFor(card.path(), 2);
        runner.profile.audio.bitrate = bitrate;
        runner.options.freeSpace = [room = room, card = card.path()](const fs::path& asked) {
            EXPECT_EQ(asked, card);  // the card, not the file
            return room;
        };
        EXPECT_EQ(describe(runToTheEnd(runner, separateAlbums(3)).back()), outcome)
            << room.value_or(-1);
    }
}

// Items 1-2 are album A, 3-5 album B and 6-7 album C; one run writes them in
// turn until the track `full` finds no room. Only what this run wrote into an
// album that is now partial goes again, and only when some album it wrote is
// whole; a track that failed leaves its album whole.
TEST(ConversionRun, FullCardTakesBackWhatThisRunWroteIntoPartialAlbums) {
    const ConversionPlan plan = planOf({{"Artist A/A", 2}, {"Artist B/B", 3}, {"Artist C/C", 2}});
    struct Case {
        std::string present, excluded, failing;
        char full;
        bool usersFileInB;
        std::string kept, notice;
    };
    const std::vector<Case> cases = {
        {"", "", "", '7', false, "12345", "C"}, {"", "", "4", '7', false, "1235", "C"},
        {"", "", "4", '5', false, "12", "B"},   {"12", "", "", '4', false, "123", ""},
        {"3", "", "", '4', false, "123", ""},   {"3", "", "", '5', false, "123", "B"},
        {"", "", "", '4', true, "12", "B"},     {"", "45", "", '6', false, "123", ""},
    };
    for (const Case& c : cases) {
        const std::string label = c.present + "/" + c.excluded + "/" + c.failing + "/" + c.full;
        const auto paths = [&](const std::string& items) {
            Texts result;
            for (const char n : items)
                result.push_back(plan.items[std::size_t(n - '1')].relativePath);
            return result;
        };
        TempDir card;
        for (const std::string& path : paths(c.present)) writeFile(card / path, "old");
        if (c.usersFileInB) writeFile(card / "MUSIC/Artist B/B/cover.jpg", "the user's");
        ConversionRunner runner = runnerFor(card.path());
        for (const std::string& path : paths(c.excluded)) runner.options.exclude.insert(path);
        ScriptedConverter converter;
        if (!c.failing.empty()) converter.script(c.failing + ".flac", {Ending::fail});
        converter.script(std::string(1, c.full) + ".flac", {Ending::noSpace});
        const std::vector<E> events = runToTheEnd(runner, plan, converter);

        EXPECT_EQ(converter.started().back(), std::string(1, c.full) + ".flac") << label;
        const std::string notice = "notice 途中までしか入らなかったアルバム（MUSIC/Artist " +
                                   c.notice + "/" + c.notice + "）は、次のカードにまとめて入れます";
        Texts notices;
        for (const std::string& told : trace(events))
            if (told.starts_with("notice")) notices.push_back(told);
        EXPECT_EQ(notices, c.notice.empty() ? Texts{} : Texts{notice}) << label;
        EXPECT_TRUE(summaryOf(events).cardFull) << label;
        EXPECT_EQ(summaryOf(events).progress.done, std::ssize(c.kept) - std::ssize(c.present));
        EXPECT_EQ(summaryOf(events).placed, paths(c.kept)) << label;
        Texts onCard = paths(c.kept);
        if (c.usersFileInB) onCard.insert(onCard.begin() + 2, "MUSIC/Artist B/B/cover.jpg");
        EXPECT_EQ(pathsBelow(card.path()), onCard) << label;
        // Emptied album folders go with their artist folders.
        for (const auto& entry : fs::recursive_directory_iterator(card.path()))
            EXPECT_FALSE(fs::is_empty(entry.path())) << label << ": " << entry.path();
    }
}

TEST(ConversionRun, StoppedRunWithAFullCardKeepsItsPartialAlbum) {
    TempDir card;
    const ConversionPlan plan = planOf({{"A", 1}, {"B", 3}});
    ConversionRunner runner = runnerFor(card.path(), 2);
    auto asked = std::make_shared<std::atomic<int>>(0);
    runner.options.freeSpace = [asked](const fs::path&) -> std::optional<std::int64_t> {
        return ++*asked < 4 ? std::int64_t{1} << 40 : 0;
    };
    ScriptedConverter converter;
    converter.script("3.flac", {Ending::waitForStop});
    ConversionRunner::Handle handle = runner.start(plan, converter.function());
    // Items 1 and 2 convert, item 3 hangs, the fourth admission finds the card full.
    int converted = 0;
    ASSERT_TRUE(readUntil(
        handle, [&](const E& e) { return e.trackAs<E::Track::Converted>() && ++converted == 2; }));
    for (int wait = 0; wait < 1000 && *asked < 4; ++wait) std::this_thread::sleep_for(10ms);
    handle.cancel();
    const std::vector<E> rest = drain(handle);
    EXPECT_EQ(trace(rest), (Texts{"progress 2 0 0 / 4", "finishing",
                                  "done 2 skipped 0 failed 0 stopped cardFull"}));
    EXPECT_EQ(pathsBelow(card.path()),
              (Texts{plan.items[0].relativePath, plan.items[1].relativePath}));
}

TEST(ConversionRun, JunkGoesBeforeAndAfterButNoOneElsesFiles) {
    TempDir card;
    const fs::path root = card / "MUSIC";
    const std::string ours = ".tarvik-" + makeUuid() + ".part",
                      later = ".tarvik-" + makeUuid() + ".part";
    const std::vector<fs::path> junk = {root / "._a.mp3", root / "X/.DS_Store", root / "X" / ours};
    const std::vector<fs::path> kept = {root / "X/movie.mkv.part",
                                        root / "X/.tarvik-not-a-uuid.part", root / "X/keep.mp3",
                                        card / "._outside"};
    for (const fs::path& file : junk) writeFile(file, "junk");
    for (const fs::path& file : kept) writeFile(file, "someone's");
    fs::create_directories(root / "._folder");
    ScriptedConverter converter;
    bool junkAtStart = true;
    converter.onStart([&](const Converter::Job&) {
        junkAtStart = fs::exists(root / "._a.mp3") || fs::exists(root / "X" / ours);
        writeFile(root / "Y" / later, "half a copy");
    });
    runToTheEnd(runnerFor(card.path()), separateAlbums(1), converter);
    EXPECT_FALSE(junkAtStart);
    for (const fs::path& file : junk) EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_FALSE(fs::exists(root / "Y" / later));
    for (const fs::path& file : kept) EXPECT_TRUE(fs::exists(file)) << file;
    EXPECT_TRUE(fs::exists(root / "._folder"));
}

TEST(RunHandle, StopGivesOneStoppedFinishedAndNoLaterConversion) {
    TempDir card;
    ScriptedConverter converter;
    for (int n = 2; n <= 6; ++n)
        converter.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    ConversionRunner::Handle handle =
        runnerFor(card.path(), 3).start(separateAlbums(6), converter.function());
    ASSERT_TRUE(readUntil(handle, [](const E& e) { return describe(e).starts_with("converted"); }));
    handle.cancel();
    handle.cancel();
    std::vector<E> rest = drain(handle);
    handle.cancel();  // after the end: nothing left to stop
    EXPECT_EQ(trace(rest).back(), "done 1 skipped 0 failed 0 stopped");
    rest.pop_back();
    for (const E& event : rest)
        EXPECT_TRUE(event.as<E::Progress>() || event == E::finishing()) << describe(event);
    // Three started at once and at most one more when the first returned,
    // unless the stop came first; the stop ended every one still running.
    const std::size_t started = converter.started().size();
    EXPECT_TRUE(started == 3 || started == 4) << started;
    EXPECT_EQ(converter.stopsSeen(), static_cast<int>(started) - 1);
}

TEST(RunHandle, ReaderLettingGoStopsTheRun) {
    TempDir card;
    ScriptedConverter converter;
    for (int n = 1; n <= 6; ++n)
        converter.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    std::shared_ptr<DetachedTask> task;
    {
        ConversionRunner::Handle handle =
            runnerFor(card.path(), 2).start(separateAlbums(6), converter.function());
        task = handle.task;
        ASSERT_TRUE(readUntil(handle, [](const E& e) { return e == E::converting(); }));
    }
    ASSERT_TRUE(task->waitFor(10s));
    EXPECT_EQ(converter.started().size(), 2U);
    EXPECT_EQ(converter.stopsSeen(), 2);
}

// A dry run lists the plan as skipped and counts only the carried-over; a
// stop while it plans ends it as a stopped run. Neither makes the card.
TEST(RunHandle, RunThatPlansItselfReportsThePlanningAndAlwaysFinishes) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    writeFile(temp / "music/Band/Album/one.flac", "");
    writeFile(temp / "music/Band/Album/two.flac", "");
    writeFile(temp / "slow/Band/Album/slow.flac", "");  // the stand-in hangs on it
    for (const std::string music : {"music", "slow"}) {
        ConversionRunner runner = runnerFor(temp / "card", 2, ffmpeg.program, temp / music);
        runner.options.dryRun = true;
        runner.options.exclude = {"MUSIC/Band/Album/two.mp3"};
        ConversionRunner::Handle handle = runner.start(std::nullopt);
        ASSERT_TRUE(readUntil(handle, [](const E& e) { return e == E::scanning(); }));
        if (music == "slow") handle.cancel();
        EXPECT_EQ(trace(drain(handle)),
                  (music == "slow"
                       ? Texts{"done 0 skipped 0 failed 0 stopped"}
                       : Texts{"planning", "progress 0 0 0 / 2", "skipped MUSIC/Band/Album/one.mp3",
                               "skipped MUSIC/Band/Album/two.mp3", "done 0 skipped 1 failed 0"}));
    }
    EXPECT_FALSE(fs::exists(temp / "card"));
}

}  // namespace
}  // namespace tarvik
