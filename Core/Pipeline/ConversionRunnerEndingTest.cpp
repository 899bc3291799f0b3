// What a run's end says against what the card holds: songs that finish after
// the run stopped, and a full card carried over onto a second one while
// other songs are still being written.

#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using Ending = ScriptedConverter::Ending;

// Every event of a started run; `midway` runs once the event told as `after`
// has come (a stop, say).
std::vector<ConversionEvent> readAll(ConversionRunner::Handle& handle, const std::string& after,
                                     const std::function<void()>& midway) {
    std::vector<ConversionEvent> events;
    while (std::optional<ConversionEvent> event = handle.events.next()) {
        events.push_back(*event);
        if (describe(*event) == after) midway();
    }
    handle.task->wait();
    return events;
}

// The run stops (the user's stop, or the music folder gone while song 3 reads
// it) while song 2 is being written; song 2 is in place a moment after the
// stop reached it, as is song 1, which needs no time. The summary counts it, the log tells it, and
// the count is what the card holds.
TEST(RunEnding, ASongFinishedAfterTheStopIsCountedAndTold) {
    for (const bool userStop : {true, false}) {
        SCOPED_TRACE(userStop ? "the user's stop" : "the music folder gone");
        TempDir temp;
        const fs::path music = temp / "music";
        fs::create_directories(music / "Artist");
        fs::create_directory(temp / "card");
        const ConversionRunner runner = runnerFor(temp / "card", 3, "/nonexistent/ffmpeg", music);
        const ConversionPlan plan = separateAlbums(3);
        ScriptedConverter writes;
        const ConversionRunner::ConvertTrack convert =
            [&, write = writes.function()](const Converter::Job& job, std::stop_token stop) {
                const std::string name = job.source.filename().string();
                if (name == "2.flac") {
                    sleepFor(1h, stop);
                    return write(job, {});
                }
                if (name != "3.flac") return write(job, {});
                if (userStop) {
                    sleepFor(1h, stop);
                    throw Cancelled();
                }
                fs::remove_all(music);
                throw ConversionError(job.source.string() + ": ファイルがありません");
            };
        ConversionRunner::Handle handle = runner.start(plan, convert);
        const auto events = readAll(handle, "converted " + plan.items[0].relativePath, [&] {
            if (userStop) handle.cancel();
        });

        const Texts onCard = pathsBelow(temp / "card");
        ASSERT_EQ(onCard, (Texts{plan.items[0].relativePath, plan.items[1].relativePath}));
        const ConversionEvent::Summary& summary = *events.back().as<ConversionEvent::Summary>();
        EXPECT_EQ(summary.progress.done, static_cast<std::int64_t>(onCard.size()));
        EXPECT_EQ(summary.placed, onCard);
        Texts told = trace(events, "converted");  // in the order the songs ended
        std::sort(told.begin(), told.end());
        EXPECT_EQ(told, (Texts{"converted " + onCard[0], "converted " + onCard[1]}));
        EXPECT_EQ(describe(events.back()), userStop
                                               ? "done 2 skipped 0 failed 0 stopped"
                                               : "done 2 skipped 0 failed 1 stopped musicLost");
    }
}

// Three songs at a time; song 4 finds the card full while songs 5 and 6 are
// still being written. Album B (3–5) and album C (6–7) are partial and go
// again; the second card, told what the first one took, gets the rest: every
// song on exactly one card, and each summary counts what its card holds.
TEST(RunEnding, AFullCardAndTheNextOneHoldEverySongOnceWithTrueCounts) {
    const ConversionPlan plan = planOf({{"A", 2}, {"B", 3}, {"C", 2}});
    TempDir first;
    TempDir second;
    ScriptedConverter converter;
    converter.script("4.flac", {Ending::noSpace, 50ms});
    for (const char* late : {"5.flac", "6.flac"}) converter.script(late, {Ending::write, 200ms});
    const auto firstEvents = runToTheEnd(runnerFor(first.path(), 3), plan, converter);
    const ConversionEvent::Summary& full = *firstEvents.back().as<ConversionEvent::Summary>();
    EXPECT_TRUE(full.cardFull);
    EXPECT_FALSE(full.stopped);

    ConversionRunner next = runnerFor(second.path(), 3);
    next.options.exclude.insert(full.carried.begin(), full.carried.end());
    const auto secondEvents = runToTheEnd(next, plan, ScriptedConverter{});
    const ConversionEvent::Summary& rest = *secondEvents.back().as<ConversionEvent::Summary>();

    const Texts onFirst = pathsBelow(first.path());
    const Texts onSecond = pathsBelow(second.path());
    EXPECT_EQ(onFirst, (Texts{plan.items[0].relativePath, plan.items[1].relativePath}));
    Texts everySong;
    for (const ConversionPlan::Item& item : plan.items) everySong.push_back(item.relativePath);
    Texts both = onFirst;
    both.insert(both.end(), onSecond.begin(), onSecond.end());
    std::sort(both.begin(), both.end());
    EXPECT_EQ(both, everySong);
    EXPECT_EQ(full.progress.done, static_cast<std::int64_t>(onFirst.size()));
    EXPECT_EQ(rest.progress.done, static_cast<std::int64_t>(onSecond.size()));
    EXPECT_EQ(rest.progress.skipped, static_cast<std::int64_t>(onFirst.size()));
    EXPECT_FALSE(rest.cardFull);
}

}  // namespace
}  // namespace tarvik
