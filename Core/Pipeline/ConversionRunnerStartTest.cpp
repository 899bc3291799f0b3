// A started run and its handle: stopping, readers going away, dropped
// handles, and runs that plan for themselves.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using E = ConversionEvent;
using testing::CountingFFmpeg;
using testing::drain;
using testing::ScriptedConverter;
using testing::separateAlbums;
using testing::TempDir;
using testing::writeFile;
using Ending = ScriptedConverter::Ending;

ConversionRunner runnerFor(const fs::path& ffmpeg, const fs::path& music, const fs::path& card,
                           std::int64_t jobs) {
    ConversionRunner runner{ffmpeg, DeviceProfile("test", "Test"), music, card, {}, RunOptions{},
                            nullptr};
    runner.options.jobs = jobs;
    runner.options.freeSpace = [](const fs::path&) { return std::optional<std::int64_t>(); };
    return runner;
}

// Reads until an event satisfies `wanted`; false when the events end first.
template <typename Predicate>
bool readUntil(ConversionRunner::Events::Reader& events, Predicate wanted,
               std::vector<E>* seen = nullptr) {
    while (std::optional<E> event = events.next()) {
        if (seen) seen->push_back(*event);
        if (wanted(*event)) return true;
    }
    return false;
}

TEST(RunHandle, StopGivesOneStoppedFinishedAndNoLaterConversion) {
    TempDir card;
    ScriptedConverter converter;
    for (int n = 2; n <= 6; ++n)
        converter.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    ConversionRunner::Handle handle = runnerFor("/nonexistent", "/nonexistent", card.path(), 3)
                                          .start(separateAlbums(6), converter.function());

    ASSERT_TRUE(readUntil(handle.events, [](const E& e) {
        return e.as<E::Progress>() && e.as<E::Progress>()->done == 1;
    }));
    handle.cancel();
    handle.cancel();
    const std::vector<E> rest = drain(handle);
    handle.cancel();  // after the end: nothing left to stop

    int finished = 0;
    for (const E& event : rest) {
        EXPECT_EQ(event.trackAs<E::Track::Converted>(), nullptr);
        EXPECT_EQ(event.trackAs<E::Track::Failed>(), nullptr);
        if (event.as<E::Summary>()) ++finished;
    }
    EXPECT_EQ(finished, 1);
    ASSERT_NE(rest.back().as<E::Summary>(), nullptr);
    const E::Summary& summary = *rest.back().as<E::Summary>();
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.progress.done, 1);
    EXPECT_EQ(summary.placed.size(), 1U);
    // Three started at once and at most one more when the first returned,
    // unless the stop came first; the stop ended every one still running.
    const std::size_t started = converter.started().size();
    EXPECT_GE(started, 3U);
    EXPECT_LE(started, 4U);
    EXPECT_EQ(converter.stopsSeen(), static_cast<int>(started) - 1);
}

TEST(RunHandle, ReaderLettingGoStopsTheRun) {
    TempDir card;
    ScriptedConverter converter;
    for (int n = 1; n <= 6; ++n)
        converter.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    std::shared_ptr<DetachedTask> task;
    {
        ConversionRunner::Handle handle = runnerFor("/nonexistent", "/nonexistent", card.path(), 2)
                                              .start(separateAlbums(6), converter.function());
        task = handle.task;
        ASSERT_TRUE(readUntil(handle.events, [](const E& e) { return e == E::converting(); }));
    }
    ASSERT_TRUE(task->waitFor(10s));
    EXPECT_EQ(converter.started().size(), 2U);
    EXPECT_EQ(converter.stopsSeen(), 2);
}

TEST(RunHandle, RunThatPlansItselfReportsThePlanningFirst) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    for (const char* file : {"Band/Album/one.flac", "Band/Album/two.flac"}) {
        writeFile(temp / "music" / file, "");
    }
    ConversionRunner runner = runnerFor(ffmpeg.program, temp / "music", temp / "card", 2);
    runner.options.dryRun = true;
    runner.options.exclude = {"MUSIC/Band/Album/two.mp3"};

    ConversionRunner::Events::Reader events = runner.run();  // its handle is gone already
    std::vector<E> seen;
    while (std::optional<E> event = events.next()) seen.push_back(*event);
    EXPECT_EQ(seen,
              (std::vector<E>{
                  E::scanning(), E::planning(), E{E::Progress{0, 0, 0, 0, 2, std::nullopt}},
                  E::skipped("MUSIC/Band/Album/one.mp3"), E::skipped("MUSIC/Band/Album/two.mp3"),
                  E::finished({{0, 1, 0, 0, 2, std::nullopt}, false, false, 0, {}})}));
    EXPECT_FALSE(fs::exists(temp / "card"));
}

TEST(RunHandle, PlanningThatFailsOrIsStoppedStillFinishes) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    writeFile(temp / "music" / "Band" / "Album" / "slow.flac", "");  // the stand-in hangs on it
    struct Case {
        std::string name;
        fs::path music;
        bool stop;
        std::vector<E> expected;
    };
    E::Progress oneFailed;
    oneFailed.failed = 1;
    const std::vector<Case> cases = {
        {"nothing to plan",
         temp / "missing",
         false,
         {E::scanning(),
          E::failed((temp / "missing").string(),
                    "対象の曲が見つかりません。アーティストの選択を確認してください。"),
          E::finished({oneFailed, false, false, 0, {}})}},
        {"stopped while reading tags",
         temp / "music",
         true,
         {E::scanning(), E::finished({{}, true, false, 0, {}})}},
    };
    for (const Case& test : cases) {
        ScriptedConverter converter;
        ConversionRunner::Handle handle = runnerFor(ffmpeg.program, test.music, temp / "card", 2)
                                              .start(std::nullopt, converter.function());
        std::vector<E> seen;
        ASSERT_TRUE(readUntil(
            handle.events, [](const E& e) { return e == E::scanning(); }, &seen));
        if (test.stop) handle.cancel();
        for (const E& event : drain(handle)) seen.push_back(event);
        EXPECT_EQ(seen, test.expected) << test.name;
        EXPECT_TRUE(converter.started().empty()) << test.name;
        EXPECT_FALSE(fs::exists(temp / "card")) << test.name;
    }
}

}  // namespace
}  // namespace tarvik
