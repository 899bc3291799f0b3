#include <gtest/gtest.h>

#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {
namespace {

using namespace std::chrono;
using testing::TempDir;
using testing::readFile;
using testing::writeFile;

TidyJournalEntry sample() {
    TidyJournalEntry entry;
    entry.source = "a/b/01 x.mp3";
    entry.target = "A/B/01 X.mp3";
    entry.old = TrackMeta("x", "a", "a", "b", "1", "", "2019", "Rock");
    entry.new_ = TrackMeta("X", "A", "A", "B", "1", "", "2019", "Rock");
    entry.tagsWritten = true;
    entry.moved = true;
    entry.rawOld = TagFields::Values{{TagFields::Field::title, "x"},
                                     {TagFields::Field::album, std::nullopt},
                                     {TagFields::Field::artist, std::string("a\0b", 3)}};
    entry.sizeBefore = 1200;
    entry.size = 1234;
    entry.modified = 1'700'000'000'123'456'789;
    return entry;
}

TEST(TidyJournal, EntryLineKeepsItsMemberOrderAndReadsBackInAnyForm) {
    const TidyJournalEntry entry = sample();
    const std::string line = entry.line();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.rfind(R"({"source":"a/b/01 x.mp3","target":"A/B/01 X.mp3","old":{)", 0), 0u)
        << line;
    EXPECT_LT(line.find("\"new\""), line.find("\"tagsWritten\""));
    EXPECT_LT(line.find("\"tagsWritten\""), line.find("\"moved\""));
    EXPECT_EQ(TidyJournalEntry::fromLine(line), entry);
    // Another writer's form: sorted members, "/" escaped.
    const std::string other =
        text::replacing(nlohmann::json::parse(line).dump(), "/", "\\/");
    EXPECT_EQ(TidyJournalEntry::fromLine(other), entry);

    TidyJournalEntry plain = entry;  // a journal without the additions
    plain.rawOld.reset();
    plain.size.reset();
    plain.sizeBefore.reset();
    plain.modified.reset();
    EXPECT_EQ(TidyJournalEntry::fromLine(plain.line()), plain);
    EXPECT_THROW(TidyJournalEntry::fromLine(R"({"source":"a","target":"a","old":{}})"),
                 DecodingError);
}

TEST(TidyJournal, TextThatIsNotUTF8CannotBeRecorded) {
    TidyJournalEntry entry = sample();
    entry.rawOld->at(TagFields::Field::title) = "\xFF\x01";
    EXPECT_THROW(entry.line(), JournalError);
}

TEST(TidyJournal, TwoJournalsInOneSecondKeepTheirOwnNames) {
    TempDir dir;
    const auto now = system_clock::now();
    JournalWriter first(dir.path(), now);
    JournalWriter second(dir.path(), now);
    EXPECT_NE(first.path(), second.path());
    EXPECT_EQ(first.path(), journalName(dir.path(), now));
    EXPECT_TRUE(second.path().filename().string().ends_with("-2.jsonl"));
    first.append(journalHeader("/m", now));
    second.append("{}");
    EXPECT_EQ(readFile(second.path()), "{}\n");
    const std::string name = first.path().filename().string();
    EXPECT_TRUE(name.starts_with("tidy-")) << name;
    EXPECT_EQ(name.size(), std::string("tidy-yyyyMMdd-HHmmss.jsonl").size());
}

TEST(TidyJournal, BadJournalsAreRefusedWhole) {
    TempDir dir;
    const std::string entry = sample().line();
    struct Case {
        std::string text;
        bool formatError;  // the format message rather than a decoding error
    };
    const std::vector<Case> cases = {
        {"", true},
        {"\n\n", true},
        {"[1,2]\n", true},
        {R"({"started":"2026-01-01T00:00:00Z"})", true},
        {"{}\n", true},
        {R"({"root":5})", true},
        {"{\"root\":\n", false},
        {"{\"root\":\"/m\"}\n" + entry + "\n{\"source\":1}\n", false},
    };
    for (const Case& c : cases) {
        writeFile(dir / "j.jsonl", c.text);
        try {
            readJournal(dir / "j.jsonl");
            ADD_FAILURE() << c.text;
        } catch (const DecodingError&) {
            EXPECT_FALSE(c.formatError) << c.text;
        } catch (const ConversionError& error) {
            EXPECT_TRUE(c.formatError) << c.text;
            EXPECT_STREQ(error.what(), "記録ファイルの形式が違います");
        }
    }
    writeFile(dir / "j.jsonl", journalHeader("/m", system_clock::now()) + "\n\n" + entry + "\n");
    const JournalContents contents = readJournal(dir / "j.jsonl");
    EXPECT_EQ(contents.root, "/m");
    ASSERT_EQ(contents.entries.size(), 1u);
    EXPECT_EQ(contents.entries[0], sample());
}

}  // namespace
}  // namespace tarvik
