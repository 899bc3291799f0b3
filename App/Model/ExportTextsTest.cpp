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

// A stop says so even when the card was full too, and keeps the carry-over;
// a full card that took nothing carries nothing.
TEST(ExportTextsTest, AFullCardThatWasStoppedOrTookNothing) {
    E::Summary summary;
    summary.cardFull = true;
    EXPECT_EQ(ExportTexts::finishNotification(summary).title, "SD カードがいっぱいになりました");
    EXPECT_EQ(ExportTexts::carryOverAfter(summary, {}), ExportTexts::CarryOver{});
    summary.stopped = true;
    summary.placed = {"MUSIC/New/1.mp3"};
    EXPECT_EQ(ExportTexts::finishNotification(summary).title, "中止しました");
    EXPECT_EQ(ExportTexts::carryOverAfter(summary, {{"MUSIC/Old/1.mp3"}, true}), std::nullopt);
}

}  // namespace
}  // namespace tarvik
