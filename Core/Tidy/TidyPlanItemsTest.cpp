#include <gtest/gtest.h>

#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

using testing::TempDir;
using Status = TidyItem::Status;

TrackMeta meta(std::string title, std::string track = "1", std::string albumArtist = "A Band",
               std::string album = "Night", std::string disc = "") {
    return TrackMeta(std::move(title), albumArtist, albumArtist, std::move(album),
                     std::move(track), std::move(disc), "2019", "Rock");
}

// One file per row: its path below the root, the record read, the record
// proposed and whether the catalogue matched it.
struct Row {
    std::string source;
    TrackMeta read;
    TrackMeta proposed;
    bool matched = true;
};

TidyPlan planRows(const TidyPlanner& planner, const std::vector<Row>& rows) {
    std::vector<std::filesystem::path> files;
    std::vector<TrackMeta> read, proposed;
    std::set<std::size_t> matched;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        files.push_back(planner.root / rows[i].source);
        read.push_back(rows[i].read);
        proposed.push_back(rows[i].proposed);
        if (rows[i].matched) matched.insert(i);
    }
    return planner.planItem(files, read, proposed, matched);
}

struct Expected {
    Status status;
    std::string reason;
    std::string target;
};

void expectItems(const TidyPlan& plan, const std::vector<Expected>& expected) {
    ASSERT_EQ(plan.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TidyItem& item = plan.items[i];
        EXPECT_EQ(item.status, expected[i].status) << item.source;
        EXPECT_EQ(item.reason, expected[i].reason) << item.source;
        EXPECT_EQ(item.target, expected[i].target) << item.source;
        EXPECT_EQ(item.pathChange, item.target != item.source) << item.source;
        EXPECT_TRUE(item.selected);
    }
}

TEST(TidyPlanItems, StatusAndReasonOfSingleFiles) {
    TempDir dir;
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    const std::string home = "A Band/Night/01 Song.mp3";
    expectItems(
        planRows(planner,
                 {{home, meta("Song"), meta("Song")},
                  {"A Band/Night/08 Other.mp3", meta("Other", "8"), meta("Other", "8"), false},
                  {"A Band/Night/02 Song.MP3", meta("Song", "2"), meta("Song", "2")},
                  {"A Band/Night/03 Tune.wav", meta("tune", "3"), meta("Tune", "4")},
                  {"A Band/Night/05 x.mp3", meta("x", "5"),
                   TrackMeta("x", "A Band", "A Band", "Night", "5", "", "2020-01-01", "Pop")},
                  {"A Band/Night/06 y.flac", meta("y", "6"), meta("Y", "6", "a band")}}),
        {{Status::same, "すでに正式な表記です", home},
         {Status::hold, "候補が見つかりません", "A Band/Night/08 Other.mp3"},
         {Status::change, "ファイル名・場所", "A Band/Night/02 Song.mp3"},
         {Status::change, "曲名・番号・ファイル名・場所（wav はタグを書けないので名前だけ）",
          "A Band/Night/04 Tune.wav"},
         {Status::same, "すでに正式な表記です", "A Band/Night/05 x.mp3"},
         {Status::change, "曲名・アーティスト・ファイル名・場所", "A Band/Night/06 Y.flac"}});
}

TEST(TidyPlanItems, CatalogueNeverAddsACompilationArtistOrDiscOne) {
    TempDir dir;
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    const TidyPlan plan = planRows(
        planner, {{"A Band/Night/01 Song.mp3", meta("Song"),
                   TrackMeta("Song", "A Band", "Various Artists", "Night", "1", "1", "2019", "Rock")}});
    expectItems(plan, {{Status::same, "すでに正式な表記です", "A Band/Night/01 Song.mp3"}});
    EXPECT_EQ(plan.items[0].new_.albumArtist, "A Band");
    EXPECT_EQ(plan.items[0].new_.disc, "");
}

TEST(TidyPlanItems, ShallowFilesHaveNoPresentFolders) {
    TempDir dir;
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    // Present folder "A_Band" would be kept; none is present here.
    expectItems(planRows(planner, {{"01 Song.mp3", meta("Song"), meta("Song")},
                                   {"A_Band/01 Song.mp3", meta("Song"), meta("Song")}}),
                {{Status::change, "ファイル名・場所", "A Band/Night/01 Song.mp3"},
                 {Status::change, "ファイル名・場所", "A_Band/Night/01 Song.mp3"}});
}

TEST(TidyPlanItems, ArtistFoldersStayWhole) {
    TempDir dir;
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    expectItems(
        planRows(planner,
                 {{"Mix/Night/01 a.mp3", meta("a", "1", "MIX"), meta("a", "1", "MIX")},
                  {"Mix/Night/02 b.mp3", meta("b", "2", "Mix"), meta("b", "2", "mix")},
                  {"Mix/Night/03 c.mp3", meta("c", "3", "Mix"), meta("c", "3", "Mix")}}),
        {{Status::same, "すでに正式な表記です", "Mix/Night/01 a.mp3"},
         {Status::change, "アーティスト", "Mix/Night/02 b.mp3"},
         {Status::same, "すでに正式な表記です", "Mix/Night/03 c.mp3"}});
}

TEST(TidyPlanItems, NameClashGuard) {
    TempDir dir;
    testing::writeFile(dir / "A Band/Night/09 Outside.mp3", "");
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    expectItems(
        planRows(planner,
                 {// Two files onto one name, in different letter case.
                  {"A Band/Night/x1.mp3", meta("Twin", "1"), meta("Twin", "1")},
                  {"A Band/Night/x2.mp3", meta("twin", "1"), meta("TWIN", "1")},
                  // Onto a file that stays (in other letter case).
                  {"A Band/Night/x3.mp3", meta("Stay", "3"), meta("Stay", "3")},
                  {"A Band/Night/03 STAY.mp3", meta("STAY", "3"), meta("STAY", "3"), false},
                  // Onto a file that moves away itself.
                  {"A Band/Night/x4.mp3", meta("Gone", "4"), meta("Gone", "4")},
                  {"A Band/Night/04 Gone.mp3", meta("Gone", "4"), meta("Gone", "5")},
                  // Onto a file outside the plan.
                  {"A Band/Night/x9.mp3", meta("Outside", "9"), meta("Outside", "9")},
                  // Letter case of its own path only.
                  {"A Band/Night/07 song.mp3", meta("song", "7"), meta("Song", "7")}}),
        {{Status::hold, "同じ名前になる曲がほかにあります", "A Band/Night/01 Twin.mp3"},
         {Status::hold, "同じ名前になる曲がほかにあります", "A Band/Night/01 TWIN.mp3"},
         {Status::hold, "同じ名前のファイルがすでにあります（重複の可能性）",
          "A Band/Night/03 Stay.mp3"},
         {Status::hold, "候補が見つかりません", "A Band/Night/03 STAY.mp3"},
         {Status::change, "ファイル名・場所", "A Band/Night/04 Gone.mp3"},
         {Status::change, "番号・ファイル名・場所", "A Band/Night/05 Gone.mp3"},
         {Status::hold, "同じ名前のファイルがすでにあります（重複の可能性）",
          "A Band/Night/09 Outside.mp3"},
         {Status::change, "曲名・ファイル名・場所", "A Band/Night/07 Song.mp3"}});
}

TEST(TidyPlanItems, FilesItCannotChangeAreHeldOrLeftOut) {
    TempDir dir;
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    const std::string badName = "A Band/Night/01 \xFF.mp3";
    const TidyPlan plan = planner.planItem(
        {dir / badName, dir / "A Band/Night/02 b.mp3", "/elsewhere/03 c.mp3",
         dir / "A Band/../../03 c.mp3"},
        {meta("x"), meta("b", "2"), meta("c", "3"), meta("c", "3")},
        {meta("X"), meta("B", "2"), meta("C", "3"), meta("C", "3")}, {0, 1, 2, 3},
        {{1, std::string(unreadableTagsReason)}});
    ASSERT_EQ(plan.items.size(), 2u);
    for (const TidyItem& item : plan.items) {
        EXPECT_EQ(item.status, Status::hold);
        EXPECT_EQ(item.target, item.source);
        EXPECT_EQ(item.new_, item.old);
        EXPECT_FALSE(item.tagsChange || item.pathChange);
    }
    EXPECT_EQ(plan.items[0].reason, undecodableNameReason);
    EXPECT_EQ(plan.items[1].reason, unreadableTagsReason);
}

TEST(TidyPlanItems, ReplanRebuildsFromStoredRecords) {
    TempDir dir;
    TidyPlanner planner{{}, dir.path(), {}, nullptr};
    TidyPlan plan = planRows(
        planner, {{"A Band/Night/x.mp3", meta(std::string(40, 'x')), meta(std::string(40, 'y'))},
                  {"A Band/Night/01 z.mp3", meta("z"), meta("z"), false},
                  {"A Band/Night/02 w.mp3", meta("w", "2"), meta("w", "2")}});
    TidyPlan again = planner.replan(plan);
    EXPECT_EQ(again.items, plan.items);
    plan.items[0].selected = false;
    again = planner.replan(plan);
    EXPECT_TRUE(again.items[0].selected);

    planner.nameMax = 10;
    again = planner.replan(plan);
    EXPECT_EQ(again.items[0].target, "A Band/Night/01 yyyyyyy.mp3");
    EXPECT_EQ(again.items[0].status, Status::change);
    EXPECT_EQ(again.items[1].reason, "候補が見つかりません");  // still no candidate
    EXPECT_EQ(again.items[2].status, Status::same);
}

}  // namespace
}  // namespace tarvik
