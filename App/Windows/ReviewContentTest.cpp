#include <gtest/gtest.h>

#include "App/Windows/ReviewContent.hpp"

namespace tarvik {
namespace {

using Style = ReviewLine::Style;

ConversionPlan planOf(int items, std::int64_t duplicates = 0) {
    ConversionPlan plan;
    plan.duplicates = duplicates;
    plan.items.resize(static_cast<std::size_t>(items));
    for (int i = 0; i < items; ++i)
        plan.items[static_cast<std::size_t>(i)].relativePath =
            "MUSIC/Artist/Album/" + std::to_string(i) + ".mp3";
    return plan;
}

struct Fixture {
    ConversionPlan plan;
    DeviceProfile profile{"test", "Test"};  // 192 kbit/s
    Volume card{"/media/u/SD", "SD", 0, true};
    std::set<std::string> carryOver;
    std::vector<std::pair<TrackMeta, TrackMeta>> renamed;

    ReviewSnapshot snapshot(bool onCard, const std::string& destPath = "/media/u/SD") {
        return {.plan = &plan,
                .profile = &profile,
                .destination = onCard ? &card : nullptr,
                .destPath = destPath,
                .carryOver = &carryOver,
                .renamed = &renamed,
                .reserveMB = 50};
    }
};

// What the run keeps free at 192 kbit/s: 600 s × 24,000 bytes + 50 MiB.
constexpr std::int64_t headroom192 = 66'828'800;

// The worked example: 6,240,000 bytes a song at 192 kbit/s, with the headroom
// the run keeps taken off the free space first.
TEST(ReviewEstimateTest, FitFiguresTakeTheRunsHeadroomOff) {
    const struct {
        int items;
        std::int64_t free, estimated, notFitting;
    } cases[] = {
        {500, 2'000'000'000 + headroom192, 3'120'000'000, 180},
        {100, 2'000'000'000, 624'000'000, 0},        // 320.5 - headroom still holds 100
        {1, 6'240'000 + headroom192, 6'240'000, 0},  // exactly one song's room
        {1, 6'239'999 + headroom192, 6'240'000, 1},
        {3, 1'000, 18'720'000, 3},  // less than the headroom: nothing fits
        {0, 1'000, 0, 0},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.plan = planOf(c.items);
        f.card.free = c.free;
        const ReviewEstimate e = estimateReview(f.snapshot(true));
        EXPECT_EQ(e.estimatedBytes, c.estimated) << c.items << " " << c.free;
        EXPECT_EQ(e.notFitting, c.notFitting) << c.items << " " << c.free;
    }
}

TEST(ReviewEstimateTest, FolderHoldsEverythingAndBadBitRatesGiveNoEstimate) {
    Fixture f;
    f.plan = planOf(100'000);
    EXPECT_EQ(estimateReview(f.snapshot(false, "/home/u/out")).notFitting, 0);
    for (std::int64_t bitrate : {std::int64_t{0}, std::int64_t{-128}, std::int64_t{1} << 62}) {
        f.profile.audio.bitrate = bitrate;
        const ReviewEstimate e = estimateReview(f.snapshot(true));
        EXPECT_FALSE(e.estimatedBytes) << bitrate;
        EXPECT_EQ(e.notFitting, 0) << bitrate;
        const auto lines = reviewSummary(f.snapshot(true));
        EXPECT_EQ(lines.at(0).text, "選んだ曲: 100000 曲") << bitrate;
        EXPECT_EQ(lines.at(1).text, "SD カード「SD」の空き: 0 バイト") << bitrate;
    }
}

TEST(ReviewEstimateTest, CarriedCountsOnlyWhenContinuingAndMatchesAcrossNormalisation) {
    const std::string composed = "MUSIC/Caf\xC3\xA9/1.mp3";
    const std::string decomposed = "MUSIC/Cafe\xCC\x81/1.mp3";
    for (const auto& [item, carried] : {std::pair{decomposed, composed}, {composed, decomposed}}) {
        Fixture f;
        f.plan = planOf(2);
        f.plan.items[0].relativePath = item;
        f.carryOver = {carried};
        ReviewSnapshot s = f.snapshot(false, "/out");
        EXPECT_EQ(estimateReview(s).carried, 0);
        s.continuing = true;
        EXPECT_EQ(estimateReview(s).carried, 1) << carried;
        EXPECT_EQ(estimateReview(s).remaining, 1) << carried;
    }
}

TEST(ReviewSummaryTest, LinesFollowTheirConditions) {
    const ReviewLine cardCallout{"SD カードにすでに入っている曲は消しません。同じ曲は飛ばします。",
                                 Style::callout};
    const ReviewLine folderCallout{
        "書き出し先のフォルダにすでに入っている曲は消しません。同じ曲は飛ばします。",
        Style::callout};
    const ReviewLine twoSongs{"選んだ曲: 2 曲 / 約 12.5 MB", Style::headline};
    const struct {
        const char* name;
        std::string destPath;
        bool onCard, continuing, renamed;
        std::int64_t duplicates, free;
        std::vector<ReviewLine> expected;
    } cases[] = {
        {"card, fits",
         "/media/u/SD",
         true,
         false,
         false,
         0,
         2'000'000'000 + headroom192,
         {twoSongs,
          {"SD カード「SD」の空き: 2.07 GB → 全部入ります", Style::success},
          cardCallout}},
        {"folder with duplicates and titles",
         "/home/u/書き出し",
         false,
         false,
         true,
         1,
         0,
         {{"選んだ曲: 2 曲 / 約 12.5 MB（同じ曲 1 件はまとめました）", Style::headline},
          {"書き出し先: /home/u/書き出し", Style::path},
          {"1 曲の曲名・アーティスト名の表記を整えます（別バージョンの曲名には変えません）",
           Style::secondary},
          folderCallout}},
        {"no destination", "", false, false, false, 0, 0, {twoSongs, folderCallout}},
        {"continuing onto a small card",
         "/media/u/SD",
         true,
         true,
         false,
         0,
         1'000,
         {{"選んだ曲: 2 曲（このカードには 1 曲 / 約 6.2 MB）", Style::headline},
          {"続きから: 前のカードに入れた 1 曲は飛ばし、残りの 1 曲（約 6.2 MB）を書き出します",
           Style::teal},
          {"SD カード「SD」の空き: 1 KB → 約 1 曲は入りません", Style::warning},
          cardCallout,
          {"入る分だけ書いて止まります。残りは別のカードに続きから入れられます。",
           Style::callout}}},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.plan = planOf(2, c.duplicates);
        f.card.free = c.free;
        f.carryOver = {f.plan.items[0].relativePath};
        if (c.renamed) f.renamed.push_back({TrackMeta(), TrackMeta()});
        ReviewSnapshot s = f.snapshot(c.onCard, c.destPath);
        s.continuing = c.continuing;
        EXPECT_EQ(reviewSummary(s), c.expected) << c.name;
    }
}

TEST(ReviewSummaryTest, NoMiddleWithoutPlanOrProfileAndConfirmNeedsItems) {
    Fixture f;
    f.plan = planOf(0);
    ReviewSnapshot s = f.snapshot(true);
    EXPECT_TRUE(reviewHasMiddle(s));
    EXPECT_FALSE(confirmEnabled(s));
    s.profile = nullptr;
    EXPECT_TRUE(reviewSummary(s).empty());
    f.plan = planOf(1);
    EXPECT_TRUE(confirmEnabled(s));  // a plan with items but no profile can still start
    s.plan = nullptr;
    EXPECT_FALSE(reviewHasMiddle(s));
    EXPECT_FALSE(confirmEnabled(s));
}

TEST(ReviewTablesTest, LabelsAndCellsOnTheCard) {
    Fixture f;
    f.plan = planOf(3);
    TrackMeta before("a", "x", "", "Album", "", "", "", "");
    TrackMeta after("A", "X", "", "Album", "", "", "", "");
    TrackMeta moved("A", "X", "", "Album (Deluxe)", "", "", "", "");
    f.renamed = {{before, after}, {before, moved}};
    EXPECT_EQ(titlesTabLabel(f.snapshot(true)), "整える曲名（2）");
    EXPECT_EQ(confirmLabel(f.snapshot(true)), "この内容でSD カードに書き出す");
    EXPECT_EQ(songTableHeaders(f.snapshot(true)).back().title, "SD カード内の場所");
    EXPECT_EQ(songTableRow(f.plan.items[1]).back(),
              (Cell{f.plan.items[1].relativePath, true, false}));
    EXPECT_EQ(titlesTableRow(f.renamed[0]),
              (std::vector<Cell>{{"x / a"}, {"X / A", false, true}, {"Album"}}));
    EXPECT_EQ(titlesTableRow(f.renamed[1])[2], (Cell{"Album → Album (Deluxe)"}));
}

}  // namespace
}  // namespace tarvik
