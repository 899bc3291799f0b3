// The journal's lines: tag bytes of any encoding read back exactly, lines of
// older versions still read, a damaged escaped form is refused with its
// place named, and an item whose line can't be made fails alone.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Core/Platform/Json.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using TagFields::Field;

TEST(TidyJournal, TagBytesOfAnyEncodingReadBackExactly) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* hex;  // nullptr: recorded as the text itself
    };
    const Case cases[] = {
        {"UTF-8", "\u604B\u306E\u6B4C", nullptr},
        {"several values", std::string("a\0b", 3), nullptr},
        {"empty", "", nullptr},
        {"Shift-JIS in a frame marked UTF-8", "\x97\xF6\x82\xCC\x89\xCC", "97f682cc89cc"},
        {"no known encoding, behind its marker", "\xFF\x05\x41", "ff0541"},
        {"a sequence cut at the end", "ab\xE3\x81", "6162e381"},
        {"a surrogate spelled in UTF-8", "\xED\xA0\x80", "eda080"},
        {"NUL among other bytes", std::string("\0\xFE\0", 3), "00fe00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TidyJournalEntry entry{
            .source = "a/01.mp3",
            .target = "a/01.mp3",
            .old = TrackMeta(c.bytes, "a", "a", "b", "1", "", c.bytes, ""),
            .new_ = TrackMeta("New", "a", "a", "b", "1", "", "", c.bytes),
            .tagsWritten = true,
            .rawOld = TagFields::Values{{Field::title, c.bytes}, {Field::genre, std::nullopt}}};
        const std::string line = entry.line();
        const nlohmann::json written = json::parse(line);
        const nlohmann::json expected =
            c.hex ? nlohmann::json{{"text", text::decodeUTF8(c.bytes)}, {"hex", c.hex}}
                  : nlohmann::json(c.bytes);
        EXPECT_EQ(written["rawOld"]["title"], expected);
        EXPECT_EQ(written["old"]["date"], expected);
        EXPECT_EQ(written["new"]["genre"], expected);
        const TidyJournalEntry read = TidyJournalEntry::fromLine(line);
        EXPECT_EQ(read, entry);
        // Equality of texts is by normal form: the bytes themselves too.
        EXPECT_EQ(read.rawOld->at(Field::title), c.bytes);
        EXPECT_EQ(read.old.title, c.bytes);
        EXPECT_EQ(read.old.date, c.bytes);
        EXPECT_EQ(read.new_.genre, c.bytes);
    }
}

// Lines as older versions wrote them read as they always did; the escaped
// form reads whatever the case of its digits.
TEST(TidyJournal, LinesOfOlderVersionsAndEscapedBytesRead) {
    const std::string meta =
        R"({"album":"B","albumArtist":"A","artist":"A","date":"2019","disc":"","genre":"Rock","title":"Old","track":"3"})";
    const TrackMeta old("Old", "A", "A", "B", "3", "", "2019", "Rock");
    struct Case {
        const char* name;
        std::string line;
        TagFields::Values rawOld;
    };
    const Case cases[] = {
        {"one whole entry per change",
         R"({"source":"A\/B\/03 Old.mp3","target":"A\/B\/03 New.mp3","old":)" + meta +
             R"(,"new":)" + meta + R"(,"tagsWritten":true,"moved":true})",
         {}},
        {"texts of the file itself",
         R"({"moved":true,"tagsWritten":true,"rawOld":{"title":"Old","genre":null},"new":)" + meta +
             R"(,"old":)" + meta +
             R"(,"target":"A/B/03 New.mp3","source":"A/B/03 Old.mp3","sizeBefore":4000})",
         {{Field::title, "Old"}, {Field::genre, std::nullopt}}},
        {"escaped bytes",
         R"({"source":"A/B/03 Old.mp3","target":"A/B/03 New.mp3","old":)" + meta + R"(,"new":)" +
             meta +
             R"(,"tagsWritten":true,"moved":true,"rawOld":{"title":{"text":"?","hex":"97F682cc"}}})",
         {{Field::title, "\x97\xF6\x82\xCC"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TidyJournalEntry read = TidyJournalEntry::fromLine(c.line);
        EXPECT_EQ(read.source, "A/B/03 Old.mp3");
        EXPECT_EQ(read.target, "A/B/03 New.mp3");
        EXPECT_EQ(read.old, old);
        EXPECT_EQ(read.new_, old);
        EXPECT_TRUE(read.tagsWritten && read.moved);
        EXPECT_EQ(read.rawOld.value_or(TagFields::Values{}), c.rawOld);
    }
}

TEST(TidyJournal, DamagedEscapedBytesAreRefusedWithTheirPlace) {
    using Kind = DecodingError::Kind;
    const std::string meta =
        R"({"album":"","albumArtist":"","artist":"","date":"","disc":"","genre":"","track":"",)";
    struct Case {
        const char* name;
        std::string title;   // old's title member
        std::string rawOld;  // rawOld's title member
        Kind kind;
        const char* path;
    };
    const Case cases[] = {
        {"odd number of digits", R"("x")", R"({"hex":"97f"})", Kind::dataCorrupted,
         "rawOld.title.hex"},
        {"not a digit", R"("x")", R"({"hex":"9g"})", Kind::dataCorrupted, "rawOld.title.hex"},
        {"digits missing", R"("x")", R"({"text":"x"})", Kind::keyNotFound, "rawOld.title.hex"},
        {"digits not a string", R"("x")", R"({"hex":97})", Kind::typeMismatch, "rawOld.title.hex"},
        {"neither text nor escaped", R"("x")", "[]", Kind::typeMismatch, "rawOld.title"},
        {"damaged in old", R"({"hex":"+1"})", R"("x")", Kind::dataCorrupted, "old.title.hex"},
        {"null in old", "null", R"("x")", Kind::valueNotFound, "old.title"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line =
            R"({"source":"a.mp3","target":"a.mp3","old":)" + meta + R"("title":)" + c.title +
            R"(},"new":)" + meta +
            R"("title":""},"tagsWritten":true,"moved":false,"rawOld":{"title":)" + c.rawOld + "}}";
        try {
            TidyJournalEntry::fromLine(line);
            ADD_FAILURE() << "read: " << line;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_EQ(error.codingPath(), c.path);
        }
    }
    // A record without one of its eight fields.
    const std::string noDate =
        R"({"source":"a.mp3","target":"a.mp3","old":{"title":"","album":"","albumArtist":"","artist":"","disc":"","genre":"","track":""},"new":{},"tagsWritten":false,"moved":true})";
    try {
        TidyJournalEntry::fromLine(noDate);
        ADD_FAILURE() << "read: " << noDate;
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), Kind::keyNotFound);
        EXPECT_EQ(error.codingPath(), "old.date");
    }
}

// Nothing the program reads today makes a line it can't encode; should
// anything ever, that song alone is left as it is and the run goes on.
TEST(TidyJournal, ItemWhoseLineCannotBeMadeFailsAloneNamingItsSong) {
    const testing::TempDir dir;
    const fs::path music = dir / "m";
    for (const char* name : {"x/one.wav", "x/two.wav", "x/three.wav"}) {
        testing::writeFile(music / name, name);
    }
    const Files before = testing::filesBelow(music);
    TidyApplier applier;
    applier.entryLine = [](const TidyJournalEntry& entry) {
        if (entry.source == "x/two.wav") throw JournalError("記録ファイルに書けない文字があります");
        return entry.line();
    };
    std::vector<TidyEvent> events;
    const TidyResult run = applier.apply(
        {music.string(),
         {},
         {testing::moving("x/one.wav", "y/one.wav"), testing::moving("x/two.wav", "y/two.wav"),
          testing::moving("x/three.wav", "y/three.wav")}},
        dir / "j", false, [&](const TidyEvent& event) { events.push_back(event); }, {});
    EXPECT_EQ(run, (TidyResult{2, 1, run.journal}));
    EXPECT_EQ(testing::failuresIn(events),
              std::vector<std::string>{"x/two.wav: 記録ファイルに書けない文字があります: two.wav"});
    EXPECT_EQ(testing::filesBelow(music), (Files{{"y/one.wav", "x/one.wav"},
                                                 {"x/two.wav", "x/two.wav"},
                                                 {"y/three.wav", "x/three.wav"}}));
    EXPECT_EQ(TidyApplier{}.undo(*run.journal, {}, {}), (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(testing::filesBelow(music), before);
}

}  // namespace
}  // namespace tarvik
