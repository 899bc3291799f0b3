// Applying and undoing plans whose files need no tag writing (moves, and
// formats whose tags can't be written); the tags themselves are tested on
// real audio files in TidyApplierFilesTest.
#include <gtest/gtest.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::filesBelow;
using testing::readFile;
using testing::writeFile;
using Files = std::map<std::string, std::string>;

TidyItem moving(std::string source, std::string target) {
    TidyItem item;
    item.old = item.new_ = TrackMeta(fs::path(target).stem().string(), "A", "A", "B", "", "", "", "");
    item.source = std::move(source);
    item.target = std::move(target);
    item.status = TidyItem::Status::change;
    item.pathChange = item.source != item.target;
    item.tagsEditable = false;
    return item;
}

TidyPlan planOf(const fs::path& root, std::vector<TidyItem> items) {
    return TidyPlan{root.string(), std::chrono::system_clock::now(), std::move(items)};
}

struct Outcome {
    TidyResult result;
    std::vector<TidyEvent> events;
};

Outcome applyPlan(const TidyPlan& plan, const fs::path& journals, bool tagsOnly = false,
              std::stop_token stop = {}) {
    Outcome run;
    run.result = TidyApplier{}.apply(plan, journals, tagsOnly,
                                     [&](const TidyEvent& event) { run.events.push_back(event); }, stop);
    return run;
}

Outcome undoJournal(const fs::path& journal) {
    Outcome run;
    run.result = TidyApplier{}.undo(
        journal, [&](const TidyEvent& event) { run.events.push_back(event); }, {});
    return run;
}

std::vector<std::string> journalLines(const fs::path& journal) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(journal));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(TidyApplier, NothingSelectedTouchesNothing) {
    TempDir dir;
    writeFile(dir / "m/a.wav", "a");
    TidyItem unselected = moving("a.wav", "A/B/a.wav");
    unselected.selected = false;
    TidyItem held = moving("a.wav", "A/B/a.wav");
    held.status = TidyItem::Status::hold;
    const Outcome run = applyPlan(planOf(dir / "m", {unselected, held}), dir / "journals");
    EXPECT_EQ(run.result, TidyResult{});
    EXPECT_TRUE(run.events.empty());
    EXPECT_FALSE(fs::exists(dir / "journals"));
}

TEST(TidyApplier, AppliesMovesAndUndoesThemLastFirst) {
    TempDir dir;
    const fs::path music = dir / "m";
    writeFile(music / "x/one.wav", "1");
    writeFile(music / "x/two.wav", "2");
    writeFile(music / "x/three.wav", "3");
    TidyItem tagsOnlyWav = moving("x/three.wav", "x/three.wav");
    tagsOnlyWav.tagsChange = true;  // not writable, no move: done, no line
    const Outcome run = applyPlan(planOf(music, {moving("x/one.wav", "A/B/01 one.wav"),
                                             moving("x/two.wav", "A/B/02 two.wav"), tagsOnlyWav}),
                              dir / "journals");
    EXPECT_EQ(run.result.done, 3);
    EXPECT_EQ(run.result.failed, 0);
    ASSERT_TRUE(run.result.journal);
    EXPECT_EQ(filesBelow(music), (Files{{"A/B/01 one.wav", "1"}, {"A/B/02 two.wav", "2"},
                                        {"x/three.wav", "3"}}));
    EXPECT_EQ(run.events.back(), (TidyEvent{TidyEvent::Progress{3, 3, ""}}));
    const auto lines = journalLines(*run.result.journal);
    ASSERT_EQ(lines.size(), 3u);  // header and two moves
    EXPECT_NE(lines[0].find("\"root\":\"" + music.string() + "\""), std::string::npos);

    const Outcome undone = undoJournal(*run.result.journal);
    EXPECT_EQ(undone.result, (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(undone.events, (std::vector<TidyEvent>{{TidyEvent::Progress{0, 2, "02 two"}},
                                                     {TidyEvent::Progress{1, 2, "01 one"}}}));
    EXPECT_EQ(filesBelow(music),
              (Files{{"x/one.wav", "1"}, {"x/two.wav", "2"}, {"x/three.wav", "3"}}));
    EXPECT_FALSE(fs::exists(music / "A"));  // emptied folders go
    EXPECT_TRUE(fs::exists(run.result.journal->string() + ".undone"));
}

TEST(TidyApplier, TagsOnlyMovesNothingAndRecordsNothing) {
    TempDir dir;
    writeFile(dir / "m/x/a.wav", "a");
    const Outcome run = applyPlan(planOf(dir / "m", {moving("x/a.wav", "A/B/a.wav")}), dir / "j", true);
    EXPECT_EQ(run.result.done, 1);
    EXPECT_EQ(journalLines(*run.result.journal).size(), 1u);
    EXPECT_EQ(filesBelow(dir / "m"), (Files{{"x/a.wav", "a"}}));
}

TEST(TidyApplier, FailedItemsAreCountedAndTheRunGoesOn) {
    TempDir dir;
    const fs::path music = dir / "m";
    writeFile(music / "a/song.wav", "mine");
    writeFile(music / "a/Song.wav", "another");
    writeFile(music / "b/c.wav", "c");
    writeFile(dir / "outside.wav", "outside");
    const Outcome run = applyPlan(planOf(music, {moving("a/song.wav", "a/Song.wav"),
                                             moving("gone.wav", "A/B/gone.wav"),
                                             moving("../outside.wav", "A/B/outside.wav"),
                                             moving(dir.path().string() + "/outside.wav", "o.wav"),
                                             moving("b/c.wav", "../c.wav"),
                                             moving("b/c.wav", "A/B/c.wav")}),
                              dir / "j");
    EXPECT_EQ(run.result.done, 1);
    EXPECT_EQ(run.result.failed, 5);
    std::vector<std::string> reasons;
    for (const TidyEvent& event : run.events) {
        if (const auto* failed = std::get_if<TidyEvent::Failed>(&event.value)) {
            reasons.push_back(failed->reason);
        }
    }
    EXPECT_EQ(reasons[0], "移動先に同じ名前のファイルがあります: Song.wav");
    EXPECT_EQ(reasons[1], "ファイルが見つかりません");
    EXPECT_EQ(reasons[2], "ライブラリの外を指すパスです: ../outside.wav");
    EXPECT_EQ(reasons.size(), 5u);
    EXPECT_EQ(filesBelow(music), (Files{{"a/song.wav", "mine"}, {"a/Song.wav", "another"},
                                        {"A/B/c.wav", "c"}}));
    EXPECT_EQ(readFile(dir / "outside.wav"), "outside");
}

TEST(TidyApplier, StopBetweenItemsLeavesARecordThatUndoes) {
    TempDir dir;
    const fs::path music = dir / "m";
    std::vector<TidyItem> items;
    for (int i = 0; i < 4; ++i) {
        writeFile(music / ("x/" + std::to_string(i) + ".wav"), std::to_string(i));
        items.push_back(moving("x/" + std::to_string(i) + ".wav", "A/B/" + std::to_string(i) + ".wav"));
    }
    const Files before = filesBelow(music);
    std::stop_source stop;
    std::vector<TidyEvent> events;
    EXPECT_THROW(TidyApplier{}.apply(
                     planOf(music, items), dir / "j", false,
                     [&](const TidyEvent& event) {
                         events.push_back(event);
                         if (events.size() == 2) stop.request_stop();  // during item 1
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_EQ(filesBelow(music).count("A/B/1.wav"), 1u);
    EXPECT_EQ(filesBelow(music).count("A/B/2.wav"), 0u);
    std::vector<fs::path> journals(fs::directory_iterator(dir / "j"), {});
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(undoJournal(journals[0]).result, (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(music), before);
}

TEST(TidyApplier, UndoLeavesAFileChangedSinceAlone) {
    TempDir dir;
    const fs::path music = dir / "m";
    writeFile(music / "x/a.wav", "a");
    writeFile(music / "x/b.wav", "b");
    const Outcome run = applyPlan(
        planOf(music, {moving("x/a.wav", "A/a.wav"), moving("x/b.wav", "A/b.wav")}), dir / "j");
    writeFile(music / "A/b.wav", "someone else's b");  // replaced since
    const Outcome undone = undoJournal(*run.result.journal);
    EXPECT_EQ(undone.result, (TidyResult{1, 1, std::nullopt}));
    EXPECT_EQ(filesBelow(music), (Files{{"x/a.wav", "a"}, {"A/b.wav", "someone else's b"}}));
    EXPECT_TRUE(fs::exists(*run.result.journal));  // kept for another try
}

TEST(TidyApplier, UndoOfOnlyAHeaderAndOfBadJournals) {
    TempDir dir;
    writeFile(dir / "j.jsonl", "{\"root\":\"/nowhere\",\"started\":\"2026-01-01T00:00:00Z\"}\n");
    EXPECT_EQ(undoJournal(dir / "j.jsonl").result, TidyResult{});
    EXPECT_TRUE(fs::exists(dir / "j.jsonl.undone"));
    writeFile(dir / "k.jsonl", "{\"root\":\"relative\"}\n");
    EXPECT_THROW(undoJournal(dir / "k.jsonl"), ConversionError);
    EXPECT_THROW(undoJournal(dir / "missing.jsonl"), ConversionError);
}

}  // namespace
}  // namespace tarvik
