// Applying and undoing plans whose files need no tag writing (moves, and
// formats whose tags can't be written), the file moves beneath them and the
// journal that records them; the tags themselves are tested on real audio
// files in TidyApplierFilesTest.
#include <gtest/gtest.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
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

TidyItem moving(const std::string& source, const std::string& target) {
    const TrackMeta meta(fs::path(target).stem().string(), "A", "A", "B", "", "", "", "");
    return {.source = source, .target = target, .old = meta, .new_ = meta,
            .status = TidyItem::Status::change, .reason = {}, .pathChange = source != target};
}

TidyResult applyPlan(const fs::path& root, std::vector<TidyItem> items, const fs::path& journals,
                     bool tagsOnly = false,
                     std::stop_source stop = std::stop_source{std::nostopstate}) {
    int events = 0;
    return TidyApplier{}.apply(
        TidyPlan{root.string(), std::chrono::system_clock::now(), std::move(items)}, journals,
        tagsOnly, [&](const TidyEvent&) { if (++events == 2) stop.request_stop(); },  // in item 2
        stop.get_token());
}

TidyResult undoJournal(const fs::path& journal) { return TidyApplier{}.undo(journal, {}, {}); }

TEST(TidyApplier, AppliesMovesAndUndoesThemLastFirst) {
    TempDir dir;
    const fs::path music = dir / "m";
    for (const std::string name : {"one", "two", "three", "song"}) {
        writeFile(music / "x" / (name + ".wav"), name);
    }
    const Files before = filesBelow(music);
    TidyItem tagsOnlyWav = moving("x/three.wav", "x/three.wav");
    tagsOnlyWav.tagsChange = true;  // not writable, no move: done, no line
    TidyItem unselected = moving("x/three.wav", "A/B/three.wav"), held = unselected;
    unselected.selected = false;
    held.status = TidyItem::Status::hold;
    EXPECT_EQ(applyPlan(music, {unselected, held}, dir / "j"), TidyResult{});
    EXPECT_FALSE(fs::exists(dir / "j"));
    EXPECT_EQ(applyPlan(music, {moving("x/one.wav", "A/B/one.wav")}, dir / "j", true).done, 1);
    const TidyResult run = applyPlan(music,
                                     {moving("x/one.wav", "A/B/01 one.wav"), unselected, held,
                                      moving("x/two.wav", "x/one.wav"),  // where the first was
                                      tagsOnlyWav, moving("x/song.wav", "x/Song.wav")},
                                     dir / "journals");
    EXPECT_EQ(run, (TidyResult{4, 0, run.journal}));
    EXPECT_EQ(filesBelow(music), (Files{{"A/B/01 one.wav", "one"}, {"x/one.wav", "two"},
                                        {"x/three.wav", "three"}, {"x/Song.wav", "song"}}));
    const std::string journal = readFile(*run.journal);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 4);  // header and three moves
    EXPECT_EQ(journal.find("{\"root\":\"" + music.string() + "\""), 0u);

    EXPECT_EQ(undoJournal(*run.journal), (TidyResult{3, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(music), before);
    EXPECT_FALSE(fs::exists(music / "A"));  // emptied folders go
    EXPECT_TRUE(fs::exists(run.journal->string() + ".undone"));
}

TEST(TidyApplier, FailedItemsAreCountedAndTheRunGoesOn) {
    TempDir dir;
    const fs::path music = dir / "m";
    Files files = {{"a/song.wav", "mine"}, {"a/Song.wav", "another"}, {"a/o.wav", "o"}};
    for (const auto& [name, content] : files) writeFile(music / name, content);
    writeFile(music / "b/c.wav", "c");
    writeFile(dir / "outside.wav", "outside");
    const TidyResult run = applyPlan(
        music,
        {moving("a/song.wav", "a/Song.wav"), moving("a/o.wav", "a/Song.wav"),
         moving("gone.wav", "A/B/gone.wav"), moving("../outside.wav", "A/B/o.wav"),
         moving(dir.path().string() + "/outside.wav", "o.wav"), moving("b/c.wav", "../c.wav"),
         moving("b/c.wav", "A/B/c.wav")},
        dir / "j");
    EXPECT_EQ(run, (TidyResult{1, 6, run.journal}));
    files["A/B/c.wav"] = "c";
    EXPECT_EQ(filesBelow(music), files);
    EXPECT_EQ(readFile(dir / "outside.wav"), "outside");
}

TEST(TidyApplier, StopLeavesARecordWhoseUndoLeavesAFileReplacedSinceAlone) {
    TempDir dir;
    const fs::path music = dir / "m";
    std::vector<TidyItem> items;
    for (const std::string name : {"0", "1", "2", "3"}) {
        writeFile(music / ("x/" + name + ".wav"), name);
        items.push_back(moving("x/" + name + ".wav", "A/B/" + name + ".wav"));
    }
    EXPECT_THROW(applyPlan(music, items, dir / "j", false, std::stop_source{}), Cancelled);
    EXPECT_EQ(filesBelow(music), (Files{{"A/B/0.wav", "0"}, {"A/B/1.wav", "1"}, {"x/2.wav", "2"},
                                        {"x/3.wav", "3"}}));
    writeFile(music / "A/B/1.wav", "someone else's");
    const std::vector<fs::path> journals(fs::directory_iterator(dir / "j"), {});
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(undoJournal(journals[0]), (TidyResult{1, 1, std::nullopt}));
    EXPECT_EQ(filesBelow(music), (Files{{"x/0.wav", "0"}, {"A/B/1.wav", "someone else's"},
                                        {"x/2.wav", "2"}, {"x/3.wav", "3"}}));
    EXPECT_TRUE(fs::exists(journals[0]));  // kept for another try
}

TEST(TidyApplier, UndoRefusesBadJournalsWholeBeforeTouchingAnything) {
    TempDir dir;
    writeFile(dir / "m/A/a.wav", "a");
    const std::string header = "{\"root\":\"" + (dir / "m").string() + "\"}\n";
    TidyJournalEntry moved;
    moved.source = "x/a.wav";
    moved.target = "A/a.wav";
    moved.moved = true;
    const std::string entry = moved.line() + "\n";
    // True: refused as a whole rather than for a line that does not decode.
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true}, {"\n\n", true}, {"[1,2]\n", true}, {"{}\n", true}, {R"({"root":5})", true},
        {R"({"started":"2026-01-01T00:00:00Z"})", true}, {"{\"root\":\"relative\"}\n", true},
        {"{\"root\":\n", false}, {header + entry + "{\"source\":1}\n", false}};
    for (const auto& [text, formatError] : cases) {
        writeFile(dir / "j.jsonl", text);
        if (formatError) {
            EXPECT_THROW(undoJournal(dir / "j.jsonl"), ConversionError) << text;
        } else {
            EXPECT_THROW(undoJournal(dir / "j.jsonl"), DecodingError) << text;
        }
    }
    EXPECT_THROW(undoJournal(dir / "missing.jsonl"), ConversionError);
    EXPECT_EQ(filesBelow(dir / "m"), (Files{{"A/a.wav", "a"}}));
    writeFile(dir / "j.jsonl", header + "\n\n" + entry);
    EXPECT_EQ(undoJournal(dir / "j.jsonl"), (TidyResult{1, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(dir / "m"), (Files{{"x/a.wav", "a"}}));
    writeFile(dir / "h.jsonl", header);
    EXPECT_EQ(undoJournal(dir / "h.jsonl"), TidyResult{});
    EXPECT_TRUE(fs::exists(dir / "h.jsonl.undone"));
}

TEST(TidyFiles, FoldersAreFoundOrMadeAndRemovedOnlyWhenEmpty) {
    TempDir dir;
    writeFile(dir / "Artist/Album/x.mp3", "x");
    writeFile(dir / "Other/Album/x.mp3", "x");
    writeFile(dir / "Cafe\u0301/keep.mp3", "k");
    TidyApplier::ensureFolders(dir.path(), "Artist/album/y.mp3", false);
    EXPECT_TRUE(fs::is_directory(dir / "Artist/album"));  // case counts here: a new folder
    TidyApplier::ensureFolders(dir.path(), "Caf\u00E9/New/y.mp3", false);
    EXPECT_TRUE(fs::is_directory(dir / "Cafe\u0301/New"));  // the same name in NFD
    EXPECT_FALSE(fs::exists(dir / "Caf\u00E9"));
    EXPECT_FALSE(TidyApplier::ignoresCase(dir.path()));
    TidyApplier::ensureFolders(dir.path(), "Other/album/y.mp3", true);  // case ignored: renamed
    EXPECT_EQ(filesBelow(dir / "Other"), (Files{{"album/x.mp3", "x"}}));

    writeFile(dir / "a/b/.DS_Store", "");
    fs::create_directories(dir / "a/b/c");
    writeFile(dir / "d/._x", "");
    TidyApplier::removeEmptyFolders({dir / "a/b/c", dir / "d", dir / "Cafe\u0301/New", "/tmp"},
                                    dir.path());
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "d/._x"));
    EXPECT_FALSE(fs::exists(dir / "Cafe\u0301/New"));
    EXPECT_TRUE(fs::exists(dir / "Cafe\u0301/keep.mp3"));
    TidyApplier::removeEmptyFolders({dir / "Artist/album"}, dir / "Artist/album");  // root kept
    EXPECT_TRUE(fs::exists(dir / "Artist/album"));
}

TEST(TidyFiles, PathsFromFilesStayInside) {
    for (const char* bad : {"", "/etc/passwd", "../x.mp3", "a/../../x.mp3", "a/./x.mp3", "a//x.mp3",
                            "a/", "..", "a/\xFF.mp3"}) {
        EXPECT_FALSE(TidyApplier::inside("/m", bad)) << bad;
    }
    EXPECT_EQ(TidyApplier::inside("/m", "a..b/.c.mp3"), fs::path("/m/a..b/.c.mp3"));
}

TidyJournalEntry sample() {
    return {.source = "a/b/01 x.mp3",
            .target = "A/B/01 X.mp3",
            .old = TrackMeta("x", "a", "a", "b", "1", "", "2019", "Rock"),
            .new_ = TrackMeta("X", "A", "A", "B", "1", "", "2019", "Rock"),
            .tagsWritten = true,
            .moved = true,
            .rawOld = TagFields::Values{{TagFields::Field::title, "x"},
                                        {TagFields::Field::album, std::nullopt},
                                        {TagFields::Field::artist, std::string("a\0b", 3)}},
            .sizeBefore = 1200,
            .size = 1234,
            .modified = 1'700'000'000'123'456'789};
}

TEST(TidyJournal, EntryLineKeepsItsMemberOrderAndReadsBackInAnyForm) {
    const std::string line = sample().line();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.rfind(R"({"source":"a/b/01 x.mp3","target":"A/B/01 X.mp3","old":{)", 0), 0u);
    EXPECT_LT(line.find("\"new\""), line.find("\"tagsWritten\""));
    EXPECT_LT(line.find("\"tagsWritten\""), line.find("\"moved\""));
    TidyJournalEntry plain = sample();  // a journal without the additions
    plain.rawOld.reset();
    plain.size = plain.sizeBefore = std::nullopt;
    plain.modified.reset();
    // Another writer's form too: sorted members, "/" escaped.
    for (const TidyJournalEntry& entry : {sample(), plain}) {
        EXPECT_EQ(TidyJournalEntry::fromLine(entry.line()), entry);
        const std::string other = nlohmann::json::parse(entry.line()).dump();
        EXPECT_EQ(TidyJournalEntry::fromLine(text::replacing(other, "/", "\\/")), entry);
    }
    EXPECT_THROW(TidyJournalEntry::fromLine(R"({"source":"a","target":"a","old":{}})"),
                 DecodingError);
}

TEST(TidyJournal, TwoJournalsInOneSecondKeepTheirOwnNames) {
    TempDir dir;
    const auto now = std::chrono::system_clock::now();
    JournalWriter first(dir.path(), now);
    JournalWriter second(dir.path(), now);
    EXPECT_EQ(first.path(), journalName(dir.path(), now));
    EXPECT_EQ(second.path().string(),
              text::replacing(first.path().string(), ".jsonl", "-2.jsonl"));
    second.append("{}");
    EXPECT_EQ(testing::readFile(second.path()), "{}\n");
    EXPECT_EQ(first.path().filename().string().size(),
              std::string("tidy-yyyyMMdd-HHmmss.jsonl").size());
}

}  // namespace
}  // namespace tarvik
