#include "App/Model/ExportTexts.hpp"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using E = ConversionEvent;
using ExportTexts::CarryOver;
using ExportTexts::Line;
using Kind = LogLine::Kind;

// Converted and failed lines are checked where the model runs.
TEST(ExportTextsTest, LogLinesOfEvents) {
    const TrackMeta before("tittle", "band", "band", "Album", "1", "", "", "");
    const TrackMeta after("Title", "Band", "Band", "Album", "1", "", "", "");
    const std::vector<std::pair<E, std::optional<Line>>> cases = {
        {E::renamed(before, after), Line{Kind::renamed, "曲名 band / tittle → Band / Title"}},
        {E::notice("容量が足りません"), Line{Kind::notice, "容量が足りません"}},
        {E::skipped("MUSIC/Band/Album/01 Title.mp3"), std::nullopt},
        {E::converting(), std::nullopt},
        {E{E::Progress{}}, std::nullopt},
        {E::finished({}), std::nullopt},
    };
    for (const auto& [event, line] : cases) EXPECT_EQ(ExportTexts::logLine(event), line);
}

TEST(ExportTextsTest, FolderKeysAreTheParentInComposedForm) {
    EXPECT_EQ(ExportTexts::folderKey("MUSIC/Cafe\u0301/01 a.mp3"), "MUSIC/Caf\u00e9");
    EXPECT_EQ(ExportTexts::folderKey("01 a.mp3"), "");
}

// A full card says so; a stop says so even when the card was full too. The
// other endings are checked where the model finishes a run.
TEST(ExportTextsTest, FinishNotifications) {
    struct Case {
        bool stopped, cardFull;
        std::int64_t done, failed;
        std::string title, body;
    };
    const std::vector<Case> cases = {
        {false, true, 1500, 1, "SD カードがいっぱいになりました",
         "1500 曲を書き出しました（1 曲は失敗）"},
        {true, true, 0, 0, "中止しました", "0 曲を書き出しました"},
    };
    for (const Case& c : cases) {
        E::Summary summary;
        summary.stopped = c.stopped;
        summary.cardFull = c.cardFull;
        summary.progress.done = c.done;
        summary.progress.failed = c.failed;
        EXPECT_EQ(ExportTexts::finishNotification(summary),
                  (ExportTexts::Notification{c.title, c.body}));
    }
}

TEST(ExportTextsTest, CarryOverAfterARun) {
    const std::set<std::string> earlier = {"MUSIC/Old/1.mp3"};
    const std::vector<std::string> placed = {"MUSIC/New/1.mp3", "MUSIC/New/2.mp3"};
    struct Case {
        const char* name;
        bool stopped, cardFull, continuing;
        std::vector<std::string> placed;
        std::optional<CarryOver> after;
    };
    const std::vector<Case> cases = {
        {"complete", false, false, true, placed, CarryOver{}},
        {"complete, first card", false, false, false, placed, CarryOver{}},
        {"full, continuing", false, true, true, placed,
         CarryOver{{"MUSIC/Old/1.mp3", "MUSIC/New/1.mp3", "MUSIC/New/2.mp3"}, true}},
        {"full, first card", false, true, false, placed,
         CarryOver{{"MUSIC/New/1.mp3", "MUSIC/New/2.mp3"}, false}},
        {"full, nothing placed", false, true, false, {}, CarryOver{}},
        {"stopped", true, false, true, placed, std::nullopt},
        {"stopped with a full card", true, true, false, placed, std::nullopt},
    };
    for (const Case& c : cases) {
        E::Summary summary;
        summary.stopped = c.stopped;
        summary.cardFull = c.cardFull;
        summary.placed = c.placed;
        EXPECT_EQ(ExportTexts::carryOverAfter(summary, {earlier, c.continuing}), c.after)
            << c.name;
    }
}

}  // namespace
}  // namespace tarvik
