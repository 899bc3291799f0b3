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
using E = ConversionEvent;
using namespace testing;
using Ending = ScriptedConverter::Ending;

E progress(std::int64_t done, std::int64_t skipped, std::int64_t failed, std::int64_t total) {
    return E{E::Progress{done, skipped, failed, 0, total, std::nullopt}};
}

// Reads until an event satisfies `wanted`; false when the events end first.
bool readUntil(ConversionRunner::Events::Reader& events,
               const std::function<bool(const E&)>& wanted) {
    while (std::optional<E> event = events.next()) {
        if (wanted(*event)) return true;
    }
    return false;
}

TEST(ConversionRun, NeverRunsMoreConversionsThanJobsAndSkipsUseNoSlot) {
    for (std::int64_t jobs : {1, 2, 3}) {
        TempDir card;
        const ConversionPlan plan = separateAlbums(10);
        ConversionRunner runner = runnerFor(card.path(), jobs);
        runner.options.exclude = {plan.items[1].relativePath, plan.items[5].relativePath};
        writeFile(card / plan.items[6].relativePath, "already there");
        ScriptedConverter converter;
        for (int n = 1; n <= 10; ++n) {
            converter.script(std::to_string(n) + ".flac", {Ending::write, 50ms + 10ms * (n % 4)});
        }
        const std::vector<E> events = runToTheEnd(runner, plan, converter);
        EXPECT_EQ(converter.peak(), jobs);
        EXPECT_EQ(converter.started().size(), 7U) << jobs;
        EXPECT_EQ(outcomeOf(events), "done 7 skipped 3 failed 0") << jobs;
        EXPECT_EQ(summaryOf(events).placed.size(), 8U)
            << jobs;  // the present one, not the excluded
    }
}

TEST(ConversionRun, ReportsSkipsConversionsAndFailuresInOrder) {
    TempDir card;
    ConversionPlan plan = planOf({{"Album", 5}});
    const std::string decomposed = "MUSIC/Album/1 Ca\u0301fe\u0301.mp3";
    plan.items[0].relativePath = decomposed;
    ConversionRunner runner = runnerFor(card.path());
    runner.options.exclude = {"MUSIC/Album/1 C\u00e1f\u00e9.mp3"};  // composed
    runner.options.loudnessTarget = -16.0;
    const std::string p2 = plan.items[1].relativePath, p3 = plan.items[2].relativePath,
                      p5 = plan.items[4].relativePath;
    writeFile(card / p2, "already there");
    ScriptedConverter converter;
    converter.script("4.flac", {Ending::fail});

    std::vector<E> events = runToTheEnd(runner, plan, converter);
    // No estimate before the first conversion; afterwards one, 0 at the end.
    EXPECT_FALSE(events[5].as<E::Progress>()->etaSeconds.has_value());
    EXPECT_TRUE(events[7].as<E::Progress>()->etaSeconds.has_value());
    EXPECT_EQ(summaryOf(events).progress.etaSeconds, 0);
    for (E& event : events) {
        if (auto* progress = std::get_if<E::Progress>(&event.value)) progress->etaSeconds.reset();
    }
    std::get<E::Summary>(events.back().value).progress.etaSeconds.reset();
    EXPECT_EQ(events,
              (std::vector<E>{
                  progress(0, 0, 0, 5), E::converting(), E::skipped(decomposed),
                  progress(0, 1, 0, 5), E::skipped(p2), progress(0, 2, 0, 5), E::converted(p3),
                  progress(1, 2, 0, 5), E::failed("/music/4.flac", "変換できません: 4.flac"),
                  progress(1, 2, 1, 5), E::converted(p5), progress(2, 2, 1, 5), E::finishing(),
                  E::finished({{2, 2, 1, 0, 5, std::nullopt}, false, false, 0, {p2, p3, p5}})}));
    // The skipped event carries the plan's own text, not its composed form.
    EXPECT_EQ(events[2].trackAs<E::Track::Skipped>()->path, decomposed);
    EXPECT_EQ(converter.started(), (std::vector<std::string>{"3.flac", "4.flac", "5.flac"}));
    EXPECT_EQ(converter.jobs().front(),
              (Converter::Job{plan.items[2].source, card / p3, plan.items[2].meta, std::nullopt,
                              -16.0, PosixFS::rootAt(card.path())}));
}

TEST(ConversionRun, CardIsFullBelowTenMinutesAtTheBitRatePlusTheReserve) {
    using Case = std::tuple<int, std::optional<std::int64_t>, bool>;  // bit rate, room, full
    for (const auto& [bitrate, room, full] :
         {Case{320, 76428800, false}, Case{320, 76428799, true}, Case{128, std::nullopt, false}}) {
        TempDir card;
        ConversionRunner runner = runnerFor(card.path(), 2);
        runner.profile.audio.bitrate = bitrate;
        runner.options.freeSpace = [room = room, card = card.path()](const fs::path& asked) {
            EXPECT_EQ(asked, card);  // the card, not the file
            return room;
        };
        ScriptedConverter converter;
        const std::vector<E> events = runToTheEnd(runner, separateAlbums(3), converter);
        EXPECT_EQ(outcomeOf(events),
                  full ? "done 0 skipped 0 failed 0 cardFull" : "done 3 skipped 0 failed 0")
            << bitrate << " " << room.value_or(-1);
        EXPECT_EQ(converter.started().size(), full ? 0U : 3U);
    }
}

TEST(ConversionRun, JobsZeroGoesStraightToTheFinish) {
    TempDir card;
    ScriptedConverter converter;
    EXPECT_EQ(runToTheEnd(runnerFor(card.path(), 0), separateAlbums(3), converter),
              (std::vector<E>{progress(0, 0, 0, 3), E::converting(), E::finishing(),
                              E::finished({{0, 0, 0, 0, 3, std::nullopt}, false, false, 0, {}})}));
    EXPECT_TRUE(converter.started().empty());
}

TEST(ConversionRun, FullCardTakesBackTheAlbumThatOnlyPartlyFitAndStartsNothingMore) {
    // Items 1-2 in A, 3-5 in B, 6-7 in C, 8-9 in D.
    const ConversionPlan plan =
        planOf({{"Artist A/A", 2}, {"Artist B/B", 3}, {"Artist C/C", 2}, {"Artist D/D", 2}});
    struct Case {
        std::string failing;  // the track that fails to convert, if any
        std::string outcome;
        std::vector<int> kept;
    };
    for (const Case& test : {Case{"", "done 5 skipped 0 failed 0 cardFull", {1, 2, 3, 4, 5}},
                             // B lacks only the track that failed: it is whole and stays.
                             Case{"4.flac", "done 4 skipped 0 failed 1 cardFull", {1, 2, 3, 5}}}) {
        TempDir card;
        ScriptedConverter converter;
        converter.script(test.failing, {Ending::fail});
        converter.script("7.flac", {Ending::noSpace});
        const std::vector<E> events = runToTheEnd(runnerFor(card.path()), plan, converter);

        ASSERT_GE(events.size(), 3U);
        EXPECT_EQ(events[events.size() - 3],
                  E::notice("途中までしか入らなかったアルバム（MUSIC/Artist "
                            "C/C）は、次のカードにまとめて入れます"));
        EXPECT_EQ(outcomeOf(events), test.outcome);
        EXPECT_EQ(converter.started().size(), 7U) << test.failing;
        std::vector<std::string> kept;
        for (int n : test.kept) kept.push_back(plan.items[n - 1].relativePath);
        EXPECT_EQ(summaryOf(events).placed, kept) << test.failing;
        EXPECT_EQ(pathsBelow(card.path()), kept) << test.failing;  // the artist folder is gone too
        EXPECT_FALSE(fs::exists(card / "MUSIC" / "Artist C")) << test.failing;
    }
}

TEST(ConversionRun, RollBackRemovesOnlyWhatThisRunWroteIntoPartialAlbums) {
    // Items 1-2 in A, 3-5 in B, 6-7 in C; each digit below is an item.
    const ConversionPlan plan = planOf({{"Artist A/A", 2}, {"Artist B/B", 3}, {"Artist C/C", 2}});
    struct Case {
        std::string name, excluded, failed, present, written, removed;
        std::vector<std::string> folders;  // named in the notice
        std::string otherFile = "";
    };
    const std::vector<Case> cases = {
        {"the only album written now is partial", "", "", "", "3", "", {}},
        {"two partial albums are named in order",
         "",
         "",
         "",
         "1236",
         "36",
         {"MUSIC/Artist B/B", "MUSIC/Artist C/C"}},
        {"a partial album that was already on the card", "", "", "3", "12", "", {}},
        {"what was there stays, what was written goes",
         "",
         "",
         "3",
         "124",
         "4",
         {"MUSIC/Artist B/B"}},
        {"a folder holding other files stays",
         "",
         "",
         "",
         "123",
         "3",
         {"MUSIC/Artist B/B"},
         "MUSIC/Artist B/B/cover.jpg"},
        {"excluded tracks are not expected", "45", "", "", "123", "", {}},
        {"failed tracks are not expected", "", "4", "", "1235", "", {}},
        {"an album short of more than its failures is partial",
         "",
         "4",
         "",
         "123",
         "3",
         {"MUSIC/Artist B/B"}},
    };
    for (const Case& test : cases) {
        TempDir card;
        const auto paths = [&](const std::string& digits) {
            std::set<std::string> result;
            for (char n : digits) result.insert(plan.items[std::size_t(n - '1')].relativePath);
            return result;
        };
        std::map<std::string, std::string> written;
        for (const std::string& path : paths(test.present)) writeFile(card / path, "old");
        for (const std::string& path : paths(test.written)) {
            writeFile(card / path, "new");
            written[path] = (card / path).string();
        }
        if (!test.otherFile.empty()) writeFile(card / test.otherFile, "other");
        std::set<std::string> placed = paths(test.present + test.written);

        const ConversionRunner::RollBack result = ConversionRunner::rollBackPartialAlbums(
            plan.items, paths(test.excluded), paths(test.failed), placed, written);
        const std::set<std::string> removed = paths(test.removed);
        EXPECT_EQ(std::set(result.removed.begin(), result.removed.end()), removed) << test.name;
        EXPECT_EQ(result.albumFolders, test.folders) << test.name;
        std::set<std::string> left;
        std::set_difference(placed.begin(), placed.end(), removed.begin(), removed.end(),
                            std::inserter(left, left.end()));
        if (!test.otherFile.empty()) left.insert(test.otherFile);
        EXPECT_EQ(pathsBelow(card.path()), std::vector(left.begin(), left.end())) << test.name;
        // Emptied album folders go with their artist folders.
        for (const auto& entry : fs::recursive_directory_iterator(card.path())) {
            EXPECT_FALSE(fs::is_empty(entry.path())) << test.name << ": " << entry.path();
        }
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
    ASSERT_TRUE(readUntil(handle.events, [&](const E& e) {
        return e.trackAs<E::Track::Converted>() && ++converted == 2;
    }));
    for (int wait = 0; wait < 1000 && *asked < 4; ++wait) std::this_thread::sleep_for(10ms);
    handle.cancel();
    const std::vector<E> rest = drain(handle);
    EXPECT_EQ(outcomeOf(rest), "done 2 skipped 0 failed 0 stopped cardFull");
    EXPECT_EQ(summaryOf(rest).placed,
              (std::vector<std::string>{plan.items[0].relativePath, plan.items[1].relativePath}));
    for (const E& event : rest) EXPECT_EQ(event.as<E::Notice>(), nullptr);
    EXPECT_TRUE(fs::exists(card / plan.items[1].relativePath));
}

TEST(ConversionRun, JunkGoesBeforeAndAfterButNoOneElsesFiles) {
    TempDir card;
    const fs::path root = card / "MUSIC";
    const std::string ours = ".tarvik-" + makeUuid() + ".part",
                      later = ".tarvik-" + makeUuid() + ".part";
    const std::vector<fs::path> junk = {root / "._a.mp3", root / "X" / ".DS_Store",
                                        root / "X" / ours};
    const std::vector<fs::path> kept = {root / "X" / "movie.mkv.part",
                                        root / "X" / ".tarvik-not-a-uuid.part",
                                        root / "X" / "keep.mp3", card / "._outside"};
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
    ASSERT_TRUE(readUntil(handle.events, [](const E& e) {
        return e.as<E::Progress>() && e.as<E::Progress>()->done == 1;
    }));
    handle.cancel();
    handle.cancel();
    const std::vector<E> rest = drain(handle);
    handle.cancel();  // after the end: nothing left to stop

    EXPECT_TRUE(tracksOf<E::Track::Converted>(rest).empty());
    EXPECT_TRUE(tracksOf<E::Track::Failed>(rest).empty());
    EXPECT_EQ(
        std::count_if(rest.begin(), rest.end(), [](const E& e) { return e.as<E::Summary>(); }), 1);
    EXPECT_EQ(outcomeOf(rest), "done 1 skipped 0 failed 0 stopped");
    EXPECT_EQ(summaryOf(rest).placed.size(), 1U);
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
        ASSERT_TRUE(readUntil(handle.events, [](const E& e) { return e == E::converting(); }));
    }
    ASSERT_TRUE(task->waitFor(10s));
    EXPECT_EQ(converter.started().size(), 2U);
    EXPECT_EQ(converter.stopsSeen(), 2);
}

TEST(RunHandle, RunThatPlansItselfReportsThePlanningAndAlwaysFinishes) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    writeFile(temp / "music" / "Band/Album/one.flac", "");
    writeFile(temp / "music" / "Band/Album/two.flac", "");
    writeFile(temp / "slow" / "Band/Album/slow.flac", "");  // the stand-in hangs on it
    E::Progress oneFailed;
    oneFailed.failed = 1;
    struct Case {
        fs::path music;
        std::vector<E> expected;
    };
    const std::vector<Case> cases = {
        {temp / "music",  // a dry run, its handle gone already
         {E::scanning(), E::planning(), progress(0, 0, 0, 2),
          E::skipped("MUSIC/Band/Album/one.mp3"), E::skipped("MUSIC/Band/Album/two.mp3"),
          E::finished({{0, 1, 0, 0, 2, std::nullopt}, false, false, 0, {}})}},
        {temp / "missing",
         {E::scanning(),
          E::failed((temp / "missing").string(),
                    "対象の曲が見つかりません。アーティストの選択を確認してください。"),
          E::finished({oneFailed, false, false, 0, {}})}},
        {temp / "slow", {E::scanning(), E::finished({{}, true, false, 0, {}})}},  // stopped
    };
    for (const Case& test : cases) {
        ConversionRunner runner = runnerFor(temp / "card", 2, ffmpeg.program, test.music);
        runner.options.dryRun = true;
        runner.options.exclude = {"MUSIC/Band/Album/two.mp3"};
        std::vector<E> seen;
        if (test.music == temp / "slow") {
            ConversionRunner::Handle handle = runner.start(std::nullopt);
            ASSERT_TRUE(readUntil(handle.events, [](const E& e) { return e == E::scanning(); }));
            handle.cancel();
            seen = drain(handle);
            seen.insert(seen.begin(), E::scanning());
        } else {
            ConversionRunner::Events::Reader events = runner.run();
            while (std::optional<E> event = events.next()) seen.push_back(*event);
        }
        EXPECT_EQ(seen, test.expected) << test.music;
        EXPECT_FALSE(fs::exists(temp / "card")) << test.music;
    }
}

}  // namespace
}  // namespace tarvik
