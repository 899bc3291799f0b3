// The run loop and its finish with a scripted converter: admission, skips,
// parallel limit, full card, failures, roll-back, junk and the dry run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using E = ConversionEvent;
using testing::drain;
using testing::planOf;
using testing::ScriptedConverter;
using testing::separateAlbums;
using testing::TempDir;
using testing::writeFile;
using Ending = ScriptedConverter::Ending;

ConversionRunner runnerFor(const fs::path& card, std::int64_t jobs) {
    ConversionRunner runner{"/nonexistent/ffmpeg",
                            DeviceProfile("test", "Test"),
                            "/nonexistent/music",
                            card,
                            {},
                            RunOptions{},
                            nullptr};
    runner.options.jobs = jobs;
    runner.options.loudnessTarget = std::nullopt;
    // Undetermined: only what a test says about the room counts.
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    return runner;
}

std::vector<E> runToTheEnd(const ConversionRunner& runner, const ConversionPlan& plan,
                           const ScriptedConverter& converter) {
    ConversionRunner::Handle handle = runner.start(plan, converter.function());
    return drain(handle);
}

// Estimates depend on the clock; tests that compare whole event lists drop them.
std::vector<E> withoutEstimates(std::vector<E> events) {
    for (E& event : events) {
        if (auto* progress = std::get_if<E::Progress>(&event.value)) progress->etaSeconds.reset();
        if (auto* summary = std::get_if<E::Summary>(&event.value)) {
            summary->progress.etaSeconds.reset();
        }
    }
    return events;
}

E progress(std::int64_t done, std::int64_t skipped, std::int64_t failed, std::int64_t total) {
    return E{E::Progress{done, skipped, failed, 0, total, std::nullopt}};
}

const E::Summary& summaryOf(const std::vector<E>& events) {
    return *events.back().as<E::Summary>();
}

std::vector<std::string> pathsOf(const std::vector<E>& events) {
    std::vector<std::string> paths;
    for (const E& event : events) {
        if (const auto* converted = event.trackAs<E::Track::Converted>()) {
            paths.push_back(converted->path);
        }
    }
    return paths;
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
            converter.script(std::to_string(n) + ".flac",
                             {Ending::write, std::chrono::milliseconds(50 + 10 * (n % 4))});
        }

        const std::vector<E> events = runToTheEnd(runner, plan, converter);
        EXPECT_EQ(converter.peak(), jobs) << jobs;
        EXPECT_EQ(converter.started().size(), 7U) << jobs;
        const E::Summary& summary = summaryOf(events);
        EXPECT_EQ(summary.progress.done, 7) << jobs;
        EXPECT_EQ(summary.progress.skipped, 3) << jobs;
        EXPECT_EQ(summary.placed.size(), 8U) << jobs;  // the present one counts, the excluded not
        EXPECT_FALSE(summary.stopped || summary.cardFull) << jobs;
    }
}

TEST(ConversionRun, ReportsSkipsConversionsAndFailuresInOrder) {
    TempDir card;
    ConversionPlan plan = planOf({{"Album", 5}});
    const std::string decomposed = "MUSIC/Album/1 Ca\u0301fe\u0301.mp3";
    plan.items[0].relativePath = decomposed;
    ConversionRunner runner = runnerFor(card.path(), 1);
    runner.options.exclude = {"MUSIC/Album/1 C\u00e1f\u00e9.mp3"};  // composed
    runner.options.loudnessTarget = -16.0;
    writeFile(card / plan.items[1].relativePath, "already there");
    ScriptedConverter converter;
    converter.script("4.flac", {Ending::fail});

    const std::vector<E> events = runToTheEnd(runner, plan, converter);
    const std::string p3 = plan.items[2].relativePath, p5 = plan.items[4].relativePath;
    EXPECT_EQ(
        withoutEstimates(events),
        (std::vector<E>{progress(0, 0, 0, 5), E::converting(), E::skipped(decomposed),
                        progress(0, 1, 0, 5), E::skipped(plan.items[1].relativePath),
                        progress(0, 2, 0, 5), E::converted(p3), progress(1, 2, 0, 5),
                        E::failed("/music/4.flac", "変換できません: 4.flac"), progress(1, 2, 1, 5),
                        E::converted(p5), progress(2, 2, 1, 5), E::finishing(),
                        E::finished({{2, 2, 1, 0, 5, std::nullopt},
                                     false,
                                     false,
                                     0,
                                     {plan.items[1].relativePath, p3, p5}})}));
    // The skipped event carries the plan's own text, not its composed form.
    EXPECT_EQ(events[2].trackAs<E::Track::Skipped>()->path, decomposed);
    // No estimate before the first conversion; afterwards one, 0 at the end.
    EXPECT_FALSE(events[3].as<E::Progress>()->etaSeconds.has_value());
    EXPECT_FALSE(events[5].as<E::Progress>()->etaSeconds.has_value());
    EXPECT_TRUE(events[7].as<E::Progress>()->etaSeconds.has_value());
    EXPECT_EQ(summaryOf(events).progress.etaSeconds, 0);
    EXPECT_EQ(converter.started(), (std::vector<std::string>{"3.flac", "4.flac", "5.flac"}));
    EXPECT_EQ(converter.jobs().front(),
              (Converter::Job{plan.items[2].source, card / p3, plan.items[2].meta, std::nullopt,
                              -16.0, PosixFS::rootAt(card.path())}));
}

TEST(ConversionRun, FullCardStartsNothingMoreAndIsNoFailure) {
    struct Case {
        std::string name;
        std::int64_t jobs;
        bool roomRunsOut;  // else the fifth conversion finds the card full
        std::vector<std::string> started;
    };
    const std::vector<Case> cases = {
        {"free space below the headroom at the fifth item",
         2,
         true,
         {"1.flac", "2.flac", "3.flac", "4.flac"}},
        {"no space while writing the fifth item",
         1,
         false,
         {"1.flac", "2.flac", "3.flac", "4.flac", "5.flac"}},
    };
    for (const Case& test : cases) {
        TempDir card;
        const ConversionPlan plan = separateAlbums(10);
        ConversionRunner runner = runnerFor(card.path(), test.jobs);
        auto asked = std::make_shared<std::atomic<int>>(0);
        if (test.roomRunsOut) {
            runner.options.freeSpace = [asked](const fs::path&) -> std::optional<std::int64_t> {
                return ++*asked < 5 ? std::int64_t{1} << 40 : 0;
            };
        }
        ScriptedConverter converter;
        converter.script("5.flac", {Ending::noSpace});

        const std::vector<E> events = runToTheEnd(runner, plan, converter);
        std::vector<std::string> started = converter.started();  // parallel starts race
        std::sort(started.begin(), started.end());
        EXPECT_EQ(started, test.started) << test.name;
        std::vector<std::string> expected;
        for (int i = 0; i < 4; ++i) expected.push_back(plan.items[i].relativePath);
        std::vector<std::string> converted = pathsOf(events);
        std::sort(converted.begin(), converted.end());
        EXPECT_EQ(converted, expected) << test.name;
        for (const E& event : events) {
            EXPECT_EQ(event.trackAs<E::Track::Failed>(), nullptr) << test.name;
            EXPECT_EQ(event.trackAs<E::Track::Skipped>(), nullptr) << test.name;
        }
        const E::Summary& summary = summaryOf(events);
        EXPECT_TRUE(summary.cardFull) << test.name;
        EXPECT_FALSE(summary.stopped) << test.name;
        EXPECT_EQ(summary.progress.done, 4) << test.name;
        EXPECT_EQ(summary.progress.failed, 0) << test.name;
        EXPECT_EQ(summary.placed, expected) << test.name;
    }
}

TEST(ConversionRun, CardIsFullBelowTenMinutesAtTheBitRatePlusTheReserve) {
    struct Case {
        std::int64_t bitrate;
        std::optional<std::int64_t> free;
        bool full;
    };
    const std::vector<Case> cases = {
        {320, 76428800, false}, {320, 76428799, true}, {128, std::nullopt, false},
    };
    for (const Case& test : cases) {
        TempDir card;
        ConversionRunner runner = runnerFor(card.path(), 1);
        runner.profile.audio.bitrate = test.bitrate;
        runner.options.freeSpace = [free = test.free,
                                    destination = card.path()](const fs::path& asked) {
            EXPECT_EQ(asked, destination);  // the card, not the file
            return free;
        };
        ScriptedConverter converter;
        const std::vector<E> events = runToTheEnd(runner, separateAlbums(1), converter);
        const std::string label =
            std::to_string(test.bitrate) + " kbit/s, " +
            (test.free ? std::to_string(*test.free) + " bytes free" : "room unknown");
        EXPECT_EQ(summaryOf(events).cardFull, test.full) << label;
        EXPECT_EQ(converter.started().size(), test.full ? 0U : 1U) << label;
    }
}

TEST(ConversionRun, JobsZeroGoesStraightToTheFinish) {
    TempDir card;
    ScriptedConverter converter;
    const std::vector<E> events =
        runToTheEnd(runnerFor(card.path(), 0), separateAlbums(3), converter);
    EXPECT_EQ(events,
              (std::vector<E>{progress(0, 0, 0, 3), E::converting(), E::finishing(),
                              E::finished({{0, 0, 0, 0, 3, std::nullopt}, false, false, 0, {}})}));
    EXPECT_TRUE(converter.started().empty());
}

TEST(ConversionRun, FullCardTakesBackTheAlbumThatOnlyPartlyFit) {
    TempDir card;
    const ConversionPlan plan =
        planOf({{"Artist A/Album 1", 2}, {"Artist A/Album 2", 2}, {"Artist C/Album 3", 3}});
    ScriptedConverter converter;
    converter.script("6.flac", {Ending::noSpace});

    const std::vector<E> events = runToTheEnd(runnerFor(card.path(), 1), plan, converter);
    ASSERT_GE(events.size(), 3U);
    EXPECT_EQ(events[events.size() - 3],
              E::notice("途中までしか入らなかったアルバム（MUSIC/Artist C/Album "
                        "3）は、次のカードにまとめて入れます"));
    const E::Summary& summary = summaryOf(events);
    EXPECT_TRUE(summary.cardFull);
    EXPECT_EQ(summary.progress.done, 4);
    EXPECT_EQ(summary.placed,
              (std::vector<std::string>{plan.items[0].relativePath, plan.items[1].relativePath,
                                        plan.items[2].relativePath, plan.items[3].relativePath}));
    EXPECT_FALSE(fs::exists(card / "MUSIC" / "Artist C"));  // album and artist folder gone
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(card / plan.items[i].relativePath)) << i;
}

TEST(ConversionRun, AlbumWithAFailedTrackSurvivesAFullCard) {
    TempDir card;
    const ConversionPlan plan = planOf({{"A", 2}, {"B", 3}, {"C", 2}});
    ScriptedConverter converter;
    converter.script("4.flac", {Ending::fail});
    converter.script("7.flac", {Ending::noSpace});

    const std::vector<E> events = runToTheEnd(runnerFor(card.path(), 1), plan, converter);
    ASSERT_GE(events.size(), 3U);
    // B lacks only the track that failed: it is whole and stays; C goes.
    EXPECT_EQ(events[events.size() - 3],
              E::notice("途中までしか入らなかったアルバム（MUSIC/C）は、次のカードにまとめて入れます"));
    const E::Summary& summary = summaryOf(events);
    EXPECT_TRUE(summary.cardFull);
    EXPECT_EQ(summary.progress.done, 4);
    EXPECT_EQ(summary.progress.failed, 1);
    for (int n : {1, 2, 3, 5}) EXPECT_TRUE(fs::exists(card / plan.items[n - 1].relativePath)) << n;
    EXPECT_FALSE(fs::exists(card / "MUSIC" / "C"));
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
    while (converted < 2) {
        std::optional<E> event = handle.events.next();
        ASSERT_TRUE(event.has_value());
        if (event->trackAs<E::Track::Converted>()) ++converted;
    }
    // The full card is found right after the second result is reported.
    for (int wait = 0; wait < 1000 && *asked < 4; ++wait) std::this_thread::sleep_for(10ms);
    handle.cancel();
    const std::vector<E> rest = drain(handle);
    const E::Summary& summary = summaryOf(rest);
    EXPECT_TRUE(summary.stopped);
    EXPECT_TRUE(summary.cardFull);
    EXPECT_EQ(summary.placed,
              (std::vector<std::string>{plan.items[0].relativePath, plan.items[1].relativePath}));
    for (const E& event : rest) EXPECT_EQ(event.as<E::Notice>(), nullptr);
    EXPECT_TRUE(fs::exists(card / plan.items[1].relativePath));
}

TEST(ConversionRun, JunkGoesBeforeAndAfterButNoOneElsesFiles) {
    TempDir card;
    const fs::path root = card / "MUSIC";
    const std::string ours = ".tarvik-" + makeUuid() + ".part";
    writeFile(root / "._a.mp3", "fork");
    writeFile(root / "X" / ".DS_Store", "desktop");
    writeFile(root / "X" / ours, "left by a broken run");
    writeFile(root / "X" / "movie.mkv.part", "someone's download");
    writeFile(root / "X" / ".tarvik-not-a-uuid.part", "not ours either");
    writeFile(root / "X" / "keep.mp3", "music");
    fs::create_directories(root / "._folder");
    writeFile(card / "._outside", "above the card's music folder");

    ScriptedConverter converter;
    bool junkAtStart = true;
    const std::string later = ".tarvik-" + makeUuid() + ".part";
    converter.onStart([&](const Converter::Job&) {
        junkAtStart = fs::exists(root / "._a.mp3") || fs::exists(root / "X" / ours);
        writeFile(root / "Y" / later, "half a copy");
    });
    runToTheEnd(runnerFor(card.path(), 1), separateAlbums(1), converter);

    EXPECT_FALSE(junkAtStart);
    for (const fs::path& gone : {root / "X" / ".DS_Store", root / "Y" / later}) {
        EXPECT_FALSE(fs::exists(gone)) << gone;
    }
    for (const fs::path& kept :
         {root / "X" / "movie.mkv.part", root / "X" / ".tarvik-not-a-uuid.part",
          root / "X" / "keep.mp3", root / "._folder", card / "._outside"}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
}

}  // namespace
}  // namespace tarvik
