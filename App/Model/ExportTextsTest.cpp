#include <gtest/gtest.h>

#include "App/Model/ExportTexts.hpp"

namespace tarvik {
namespace {

using E = ConversionEvent;
using ExportTexts::Line;
using Kind = LogLine::Kind;

// Converted and failed lines, the other endings and the rest of the carry-over
// table are checked where the model runs.
TEST(ExportTextsTest, LogLinesOfEvents) {
    const TrackMeta before("tittle", "band", "band", "Album", "1", "", "", "");
    const TrackMeta after("Title", "Band", "Band", "Album", "1", "", "", "");
    const std::vector<std::pair<E, std::optional<Line>>> cases = {
        {E::renamed(before, after), Line{Kind::renamed, "曲名 band / tittle → Band / Title"}},
        {E::notice("容量が足りません"), Line{Kind::notice, "容量が足りません"}},
        {E::skipped("MUSIC/Band/Album/01 Title.mp3"), std::nullopt},
        {E{E::Progress{}}, std::nullopt},
    };
    for (const auto& [event, line] : cases) EXPECT_EQ(ExportTexts::logLine(event), line);
    EXPECT_EQ(ExportTexts::folderKey("MUSIC/Cafe\u0301/01 a.mp3"), "MUSIC/Caf\u00e9");
    EXPECT_EQ(ExportTexts::folderKey("01 a.mp3"), "");
}

// A stop says so even when the card was full too, and keeps the carry-over; a
// complete run clears it; a full card adds what it took, as the carry-over
// names its tracks (never by where this card put them), to the earlier
// cards' only while continuing (so a full card that took nothing carries
// nothing).
TEST(ExportTextsTest, TheCarryOverAndTitleFollowHowTheRunEnded) {
    using C = ExportTexts::CarryOver;
    const C old{{"MUSIC/Old/1.mp3"}, true}, oldNew{{"MUSIC/Old/1.mp3", "MUSIC/New/1.mp3"}, true};
    const std::vector<std::string> placed = {"MUSIC/New/1.mp3"};
    const std::vector<std::string> where = {"MUSIC/New 2/1.mp3"};
    const std::vector<
        std::tuple<bool, bool, std::vector<std::string>, C, std::optional<C>, const char*>>
        cases = {{true, true, placed, old, std::nullopt, "中止しました"},
                 {false, false, placed, old, C{}, "書き出しが終わりました"},
                 {false, true, {}, {}, C{}, "SD カードがいっぱいになりました"},
                 {false,
                  true,
                  placed,
                  {old.paths, false},
                  C{{placed.begin(), placed.end()}, false},
                  "SD カードがいっぱいになりました"},
                 {false, true, placed, old, oldNew, "SD カードがいっぱいになりました"}};
    for (const auto& [stopped, cardFull, took, before, after, title] : cases) {
        E::Summary summary;
        summary.stopped = stopped, summary.cardFull = cardFull, summary.carried = took;
        summary.placed = took.empty() ? took : where;
        EXPECT_EQ(ExportTexts::carryOverAfter(summary, before), after) << title;
        EXPECT_EQ(ExportTexts::finishNotification(summary).title, title);
    }
}

// What stopped a run (a pulled card, a read-only card, a music folder gone)
// is no failed song in the notification either.
TEST(ExportTextsTest, TheNotificationCountsOnlySongsThatFailed) {
    for (const auto& [halt, failed, body] :
         std::vector<std::tuple<E::Halt, std::int64_t, std::string>>{
             {E::Halt::none, 2, "12 曲を書き出しました（2 曲は失敗）"},
             {E::Halt::musicFolderLost, 1, "12 曲を書き出しました"},
             {E::Halt::destinationReadOnly, 3, "12 曲を書き出しました（2 曲は失敗）"}}) {
        E::Summary summary;
        summary.progress.done = 12, summary.progress.failed = failed, summary.halt = halt;
        summary.stopped = halt != E::Halt::none;
        EXPECT_EQ(ExportTexts::finishNotification(summary).body, body);
    }
}

}  // namespace
}  // namespace tarvik
