// The journal's lines: tag bytes of any encoding read back exactly, lines of
// older versions still read, a damaged escaped form or frame place is
// refused with its place named, and an item whose line can't be made fails alone.
#include <gtest/gtest.h>

#include <regex>

#include <nlohmann/json.hpp>

#include "Core/Platform/Json.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

using Files = std::map<std::string, std::string>;
using TagFields::Field;

TEST(TidyJournal, TagBytesOfAnyEncodingReadBackExactly) {
    const std::pair<std::string, const char*> cases[] = {
        // The bytes, and their digits where they are not UTF-8.
        {"\u604B", nullptr},
        {std::string("a\0b", 3), nullptr},             // several values
        {"\x97\xF6\x82\xCC\x89\xCC", "97f682cc89cc"},  // Shift-JIS in a frame marked UTF-8
        {"\xFF\x05\x41", "ff0541"},                    // no known encoding, behind its marker
        {"ab\xE3\x81", "6162e381"},
        {"\xED\xA0\x80", "eda080"},  // a surrogate
        {std::string("\0\xFE", 2), "00fe"}};
    for (const auto& [bytes, hex] : cases) {
        SCOPED_TRACE(hex ? hex : bytes);
        const TidyJournalEntry entry{.source = "a.mp3",
                                     .target = "a.mp3",
                                     .old = TrackMeta(bytes, "", "", "", "", "", bytes, ""),
                                     .tagsWritten = true,
                                     .rawOld = TagFields::Values{{Field::title, bytes}}};
        const nlohmann::json recorded =
            hex ? nlohmann::json{{"text", text::decodeUTF8(bytes)}, {"hex", hex}}
                : nlohmann::json(bytes);
        EXPECT_EQ(json::parse(entry.line())["rawOld"]["title"], recorded);
        const TidyJournalEntry read = TidyJournalEntry::fromLine(entry.line());
        EXPECT_EQ(read, entry);
        // Equality of texts goes by normal form: the bytes too.
        EXPECT_EQ(read.rawOld->at(Field::title), bytes);
        EXPECT_EQ(read.old.date, bytes);
    }
}

TEST(TidyJournal, OlderLinesReadAndDamagedEscapesAreRefused) {
    const std::string meta =
        R"({"album":"B","albumArtist":"A","artist":"A","date":"2019","disc":"","genre":"","title":"Old","track":"3"})";
    const std::string head = R"({"source":"A\/Old.mp3","target":"A/New.mp3","old":)" + meta +
                             R"(,"new":)" + meta + R"(,"tagsWritten":true,"moved":true)";
    const TrackMeta old("Old", "A", "A", "B", "3", "", "2019", "");
    EXPECT_EQ(TidyJournalEntry::fromLine(head + R"(,"rawOld":{"title":"Old","genre":null}})"),
              (TidyJournalEntry{.source = "A/Old.mp3",
                                .target = "A/New.mp3",
                                .old = old,
                                .new_ = old,
                                .tagsWritten = true,
                                .moved = true,
                                .rawOld = TagFields::Values{{Field::title, "Old"},
                                                            {Field::genre, std::nullopt}}}));
    EXPECT_EQ(TidyJournalEntry::fromLine(head + R"(,"rawOld":{"title":{"hex":"97F6"}}})")
                  .rawOld->at(Field::title),
              "\x97\xF6");
    for (const char* damaged : {R"({"hex":"97f"})", R"({"hex":"9g"})", R"({"text":"x"})", "[]"}) {
        EXPECT_THROW(TidyJournalEntry::fromLine(head + R"(,"rawOld":{"title":)" + damaged + "}}"),
                     DecodingError)
            << damaged;
    }
    for (const char* damaged :
         {R"({"index":-1,"flags":0})", R"({"index":1,"flags":65536})", R"({"index":1})", "[]",
          R"({"index":1,"flags":0,"frames":{}})",
          R"({"index":1,"flags":0,"frames":[{"index":3,"bytes":"544"}]})",
          R"({"index":1,"flags":0,"frames":[{"index":-3,"bytes":"54495432000000010000ff"}]})"}) {
        EXPECT_THROW(
            TidyJournalEntry::fromLine(head + R"(,"placesOld":{"title":)" + damaged + "}}"),
            DecodingError)
            << damaged;
    }
}

// What a change knew of the file's tag as a whole (a tag it added, an
// ID3v1 trailer, a comment's block, the atom that holds an M4A's list)
// reads back; lines without it read as knowing none, and damaged ones, or
// ones no apply writes (a trailer that is none), are refused.
TEST(TidyJournal, WholeTagFactsReadBackAndOlderLinesHaveNone) {
    Bytes trailer(128, 0xAB);
    std::copy_n("TAG", 3, trailer.begin());
    const TidyJournalEntry entry{
        .source = "a.flac",
        .target = "a.flac",
        .tagsWritten = true,
        .placesOld = {{Field::artist, {4, 0, {{4, {'A', '=', 'x'}, 1}, {6, {'A', '=', 'y'}}}}}},
        .tagAdded = true,
        .trailerOld = trailer,
        .addedAtom = "udta"};
    const nlohmann::json line = json::parse(entry.line());
    EXPECT_EQ(TidyJournalEntry::fromLine(entry.line()), entry);

    TidyJournalEntry older = entry;
    older.tagAdded = false;
    older.trailerOld.reset();
    older.addedAtom.reset();
    older.placesOld[Field::artist].frames[0].block.reset();
    nlohmann::json stripped = line;
    const nlohmann::json::json_pointer block("/placesOld/artist/frames/0/block");
    for (const char* key : {"/tagAdded", "/trailerOld", "/addedAtom"}) stripped.erase(key + 1);
    stripped.at(block.parent_pointer()).erase("block");
    EXPECT_EQ(TidyJournalEntry::fromLine(stripped.dump()), older);

    const std::string hex = line.at("trailerOld");
    for (const auto& [at, damaged] : {std::pair<std::string, nlohmann::json>{"/trailerOld", "abc"},
                                      {"/trailerOld", 12},
                                      {"/trailerOld", "544147"},
                                      {"/trailerOld", hex + "00"},
                                      {"/trailerOld", "00" + hex.substr(2)},
                                      {"/addedAtom", "moov"},
                                      {"/tagAdded", "yes"},
                                      {block.to_string(), -1}}) {
        nlohmann::json broken = line;
        broken[nlohmann::json::json_pointer(at)] = damaged;
        EXPECT_THROW(TidyJournalEntry::fromLine(broken.dump()), DecodingError) << at;
    }
}

// What a run announced it was about to write, and the digest a later run
// judged the song by, read back with their entry; a damaged one, or one
// for no entry, is refused before anything is done.
TEST(TidyJournal, AnnouncedContentAndJudgedDigestReadBackAndDamagedOnesAreRefused) {
    const std::string digest(64, 'a');
    TidyJournalEntry entry{.source = "a.mp3", .target = "a.mp3", .tagsWritten = true};
    entry.id = 1;
    entry.pending = true;
    entry.announcesContent = true;
    const NewContent content{4078, 1'700'000'000'123'456'789, digest};
    const std::string written = TidyJournalNewContent{1, content}.line();
    const std::string judged =
        TidyJournalCompletion{1, true, false, 4078, 5, true, std::string(64, 'b')}.line();
    const testing::TempDir dir;
    const auto read = [&](const std::vector<std::string>& lines) {
        std::string text = journalHeader("/m", {}) + "\n" + entry.line() + "\n";
        for (const std::string& line : lines) text += line + "\n";
        testing::writeFile(dir / "tidy.jsonl", text);
        return readJournal(dir / "tidy.jsonl");
    };
    const JournalContents announced = read({written});
    ASSERT_EQ(announced.entries.size(), 1u);
    EXPECT_TRUE(announced.entries[0].pending);
    EXPECT_TRUE(announced.entries[0].announcesContent);
    EXPECT_EQ(announced.entries[0].newContent, content);
    const JournalContents finished = read({written, judged});
    ASSERT_EQ(finished.entries.size(), 1u);
    EXPECT_EQ(finished.entries[0].sha256, std::string(64, 'b'));
    EXPECT_EQ(finished.entries[0].size, 4078u);

    const std::string rest = R"(,"size":1,"modified":2)";
    for (const std::string& damaged : std::vector<std::string>{
             R"({"writes":2,"sha256":")" + digest + "\"" + rest + "}",
             R"({"writes":1,"sha256":")" + digest.substr(1) + "\"" + rest + "}",
             R"({"writes":1,"sha256":")" + std::string(64, 'A') + "\"" + rest + "}",
             R"({"writes":1)" + rest + "}",
             R"({"writes":1,"sha256":")" + digest + R"(","size":-1,"modified":2})",
             R"({"completes":1,"tagsWritten":true,"moved":false,"sha256":"ab"})"}) {
        EXPECT_THROW(read({damaged}), DecodingError) << damaged;
    }
}

// The digest of the song as a run checked it reads back with its entry;
// a song the run that finished a killed one found never written but saved
// since stays an entry for the undo to fail, one found untouched is
// nothing to undo; damaged ones are refused.
TEST(TidyJournal, DigestBeforeAndASaveFoundSinceReadBackAndDamagedOnesAreRefused) {
    TidyJournalEntry entry{.source = "a.mp3", .target = "a.mp3", .tagsWritten = true};
    entry.sizeBefore = 4078;
    entry.sha256Before = std::string(64, 'c');
    entry.id = 1;
    entry.pending = true;
    entry.announcesContent = true;
    EXPECT_EQ(json::parse(entry.line())["sha256Before"], std::string(64, 'c'));
    EXPECT_EQ(TidyJournalEntry::fromLine(entry.line()), entry);
    const testing::TempDir dir;
    const auto read = [&](const std::string& entryLine, const std::string& completion) {
        testing::writeFile(dir / "tidy.jsonl",
                           journalHeader("/m", {}) + "\n" + entryLine + "\n" + completion + "\n");
        return readJournal(dir / "tidy.jsonl").entries;
    };
    for (const bool saved : {true, false}) {
        SCOPED_TRACE(saved ? "saved since" : "untouched");
        TidyJournalCompletion judged{1, false, false, 4100, 5, true};
        judged.savedSince = saved;
        const std::vector<TidyJournalEntry> entries = read(entry.line(), judged.line());
        ASSERT_EQ(entries.size(), saved ? 1u : 0u);
        if (saved) {
            EXPECT_TRUE(entries[0].savedSince && !entries[0].pending && !entries[0].tagsWritten);
            EXPECT_EQ(entries[0].sha256Before, entry.sha256Before);
        }
    }
    const nlohmann::json line = json::parse(entry.line());
    const std::string judged = TidyJournalCompletion{1, false, false}.line();
    for (const nlohmann::json& damaged :
         {nlohmann::json("ab"), nlohmann::json(std::string(64, 'C')), nlohmann::json(12)}) {
        nlohmann::json broken = line;
        broken["sha256Before"] = damaged;
        EXPECT_THROW(read(broken.dump(), judged), DecodingError) << damaged;
    }
    EXPECT_THROW(read(entry.line(), R"({"completes":1,"tagsWritten":false,"moved":false,)"
                                    R"("savedSince":"yes"})"),
                 DecodingError);
}

// The journal of a run that moved one song, x/a.wav, in the library `music`
// (made here), its journals in `journals`.
std::filesystem::path movedOneSong(const std::filesystem::path& music,
                                   const std::filesystem::path& journals) {
    testing::writeFile(music / "x/a.wav", "a");
    const TidyResult applied =
        TidyApplier{}.apply({music.string(), {}, {testing::moving("x/a.wav", "y/a.wav", music)}},
                            journals, false, {}, {});
    EXPECT_EQ(applied.done, 1);
    return applied.journal.value_or("");
}

// A journal never takes the name of an undone one: its undo could not be
// marked so. One that an older version gave such a name is marked undone
// under the next free name, and its undo does not fail for that.
TEST(TidyJournal, JournalOfTheSecondOfAnUndoneOneHasANameOfItsOwn) {
    const testing::TempDir dir;
    const auto now = std::chrono::system_clock::now();
    const std::filesystem::path taken = journalName(dir / "j", now);
    testing::writeFile(undoneName(taken), "undone before");
    EXPECT_EQ(JournalWriter(dir / "j", now).path(), journalCandidate(taken, 2));

    const std::filesystem::path older = dir / "k" / taken.filename();
    std::filesystem::rename(movedOneSong(dir / "m", dir / "k"), older);
    testing::writeFile(undoneName(older), "undone before");
    std::vector<TidyEvent> events;
    EXPECT_EQ(
        TidyApplier{}.undo(older, [&](const TidyEvent& event) { events.push_back(event); }, {}),
        (TidyResult{1, 0, std::nullopt}));
    EXPECT_EQ(testing::noticesIn(events), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(older));
    EXPECT_TRUE(std::filesystem::exists(undoneName(journalCandidate(older, 2))));
    EXPECT_EQ(testing::readFile(undoneName(older)), "undone before");
}

// A line no apply writes (a trailer that is none) is refused before
// anything is undone, naming the journal and the line.
TEST(TidyJournal, LineNoApplyWritesIsRefusedNamingTheJournal) {
    struct Case {
        std::string key;
        std::string from, to;  // the first match of `from` on the line becomes `to`
        int line;
    };
    const std::vector<Case> cases = {
        // A trailer three bytes long on the song's entry.
        {"trailerOld", R"(("moved":true))", R"($1,"trailerOld":"54414731")", 2},
        // A size below nothing on its completion.
        {"size", R"(("completes":1,[^\n]*"size":)[0-9]+)", "$1-5", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const testing::TempDir dir;
        const std::filesystem::path journal = movedOneSong(dir / "m", dir / "j");
        const std::string lines = testing::readFile(journal);
        const std::string changed = std::regex_replace(lines, std::regex(c.from), c.to,
                                                       std::regex_constants::format_first_only);
        ASSERT_NE(changed, lines);
        testing::writeFile(journal, changed);
        const Files before = testing::filesBelow(dir / "m");
        EXPECT_EQ(testing::thrown<DecodingError>([&] { TidyApplier{}.undo(journal, {}, {}); }),
                  "キー「" + c.key + "」を読めません（" + journal.filename().string() + " の " +
                      std::to_string(c.line) + " 行目）");
        EXPECT_EQ(testing::filesBelow(dir / "m"), before);
    }
}

// Nothing the program reads today makes a line it can't encode; should
// anything ever, that song alone is left as it is and the run goes on.
TEST(TidyJournal, ItemWhoseLineCannotBeMadeFailsAloneNamingItsSong) {
    const testing::TempDir dir;
    const std::filesystem::path music = dir / "m";
    std::vector<TidyItem> items;
    for (const std::string name : {"one.wav", "two.wav", "three.wav"}) {
        testing::writeFile(music / "x" / name, name);
        items.push_back(testing::moving("x/" + name, "y/" + name));
    }
    const Files before = testing::filesBelow(music);
    TidyApplier applier;
    applier.entryLine = [](const TidyJournalEntry& entry) {
        if (entry.source == "x/two.wav") throw JournalError("記録ファイルに書けない文字があります");
        return entry.line();
    };
    std::vector<TidyEvent> events;
    const TidyResult run =
        applier.apply({music.string(), {}, items}, dir / "j", false,
                      [&](const TidyEvent& event) { events.push_back(event); }, {});
    EXPECT_EQ(run, (TidyResult{2, 1, run.journal}));
    EXPECT_EQ(testing::failuresIn(events),
              std::vector<std::string>{"x/two.wav: 記録ファイルに書けない文字があります: two.wav"});
    EXPECT_EQ(
        testing::filesBelow(music),
        (Files{{"y/one.wav", "one.wav"}, {"x/two.wav", "two.wav"}, {"y/three.wav", "three.wav"}}));
    EXPECT_EQ(TidyApplier{}.undo(*run.journal, {}, {}), (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(testing::filesBelow(music), before);
}

}  // namespace
}  // namespace tarvik
