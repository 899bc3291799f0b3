#include <gtest/gtest.h>

#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {
namespace {

using namespace std::chrono;
using testing::TempDir;

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
    const auto now = system_clock::now();
    JournalWriter first(dir.path(), now);
    JournalWriter second(dir.path(), now);
    EXPECT_EQ(first.path(), journalName(dir.path(), now));
    EXPECT_EQ(second.path().string(),
              text::replacing(first.path().string(), ".jsonl", "-2.jsonl"));
    second.append("{}");
    EXPECT_EQ(testing::readFile(second.path()), "{}\n");
    EXPECT_EQ(first.path().filename().string().size(), std::string("tidy-yyyyMMdd-HHmmss.jsonl").size());
}

}  // namespace
}  // namespace tarvik
