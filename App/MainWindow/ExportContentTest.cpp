#include "App/MainWindow/ExportContent.hpp"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using ExportContent::Outcome;
using Progress = ConversionEvent::Progress;

Progress counts(std::int64_t done, std::int64_t skipped, std::int64_t failed, std::int64_t total,
                std::optional<std::int64_t> eta = std::nullopt) {
    Progress p;
    p.done = done;
    p.skipped = skipped;
    p.failed = failed;
    p.total = total;
    p.etaSeconds = eta;
    return p;
}

TEST(ExportContentTest, EachRunStateHasItsPage) {
    using Page = ExportContent::Page;
    EXPECT_EQ(ExportContent::pageFor(RunState::idle()), Page::options);
    EXPECT_EQ(ExportContent::pageFor(RunState::reviewing()), Page::options);
    EXPECT_EQ(ExportContent::pageFor(RunState::planning()), Page::planning);
    EXPECT_EQ(ExportContent::pageFor(RunState::running()), Page::running);
    EXPECT_EQ(ExportContent::pageFor(RunState::finished({})), Page::finished);
    EXPECT_EQ(ExportContent::pageFor(RunState::failed("x")), Page::failed);
}

TEST(ExportContentTest, MinutesLeftAreWholeAndAtLeastOne) {
    for (const auto& [seconds, minutes] :
         std::vector<std::pair<std::int64_t, std::string>>{{0, "1"}, {59, "1"}, {60, "1"}, {150, "2"}, {3600, "60"}}) {
        const auto texts = ExportContent::progressTexts("変換しています…", counts(1, 0, 0, 10, seconds));
        EXPECT_EQ(texts.eta, "あと約 " + minutes + " 分") << seconds;
    }
    EXPECT_EQ(ExportContent::progressTexts("", counts(1, 0, 0, 10)).eta, std::nullopt);
}

TEST(ExportContentTest, ProgressCountsWhatWasDealtWith) {
    auto texts = ExportContent::progressTexts("変換しています…", counts(10, 5, 0, 20));
    EXPECT_TRUE(texts.determinate);
    EXPECT_DOUBLE_EQ(texts.fraction, 0.75);
    EXPECT_EQ(texts.count, "15 / 20 曲");
    EXPECT_EQ(texts.failed, std::nullopt);
    EXPECT_EQ(texts.accessibleLabel, "変換しています… 20 曲中 15 曲");

    texts = ExportContent::progressTexts("変換しています…", counts(10, 0, 3, 20));
    EXPECT_EQ(texts.failed, "失敗 3 曲");
    EXPECT_EQ(texts.count, "13 / 20 曲");
}

TEST(ExportContentTest, NoCountsBeforeThereIsATotal) {
    auto texts = ExportContent::progressTexts("準備しています…", counts(0, 0, 0, 0, 30));
    EXPECT_FALSE(texts.determinate);
    EXPECT_EQ(texts.count, "");
    EXPECT_EQ(texts.eta, std::nullopt);
    EXPECT_EQ(texts.failed, std::nullopt);
    EXPECT_EQ(texts.accessibleLabel, "準備しています… 0 曲中 0 曲");

    texts = ExportContent::progressTexts("曲を探しています…", std::nullopt);
    EXPECT_FALSE(texts.determinate);
    EXPECT_EQ(texts.accessibleLabel, "曲を探しています…");
}

ConversionEvent::Summary summary(Progress progress, bool stopped, bool cardFull) {
    ConversionEvent::Summary s;
    s.progress = progress;
    s.stopped = stopped;
    s.cardFull = cardFull;
    return s;
}

TEST(ExportContentTest, HeadlineTakesTheFirstMatchingOutcome) {
    struct Case {
        ConversionEvent::Summary summary;
        bool toCard;
        Outcome outcome;
        std::string headline;
    };
    const std::vector<Case> cases{
        {summary(counts(3, 0, 1, 9), true, true), true, Outcome::stopped, "中止しました"},
        {summary(counts(3, 0, 1, 9), false, true), true, Outcome::cardFull, "SD カードがいっぱいになりました"},
        {summary(counts(3, 0, 1, 9), false, true), false, Outcome::cardFull, "書き出し先のフォルダがいっぱいになりました"},
        {summary(counts(3, 0, 1, 9), false, false), true, Outcome::failures, "できあがり！ 車で聴けます"},
        {summary(counts(3, 0, 0, 3), false, false), false, Outcome::complete, "できあがり！ 車で聴けます"},
    };
    for (const Case& c : cases) {
        const auto texts = ExportContent::summaryTexts(c.summary, c.toCard, 0);
        EXPECT_EQ(texts.outcome, c.outcome) << c.headline;
        EXPECT_EQ(texts.headline, c.headline);
    }
}

TEST(ExportContentTest, StoppedRunThatFilledTheCardStillOffersToContinue) {
    const auto texts = ExportContent::summaryTexts(summary(counts(3, 0, 0, 9), true, true), true, 0);
    EXPECT_EQ(texts.headline, "中止しました");
    EXPECT_TRUE(texts.carryOverNote);
    EXPECT_TRUE(texts.continueNext);
    EXPECT_TRUE(texts.eject);
    EXPECT_FALSE(texts.send);
    EXPECT_FALSE(texts.showFailures);
}

TEST(ExportContentTest, DetailLineNamesWhatHappened) {
    EXPECT_EQ(ExportContent::summaryTexts(summary(counts(0, 0, 0, 0), false, false), false, 0).detail,
              "0 曲を書き出しました");
    const auto texts = ExportContent::summaryTexts(summary(counts(12, 4, 2, 18), false, false), false, 3);
    EXPECT_EQ(texts.detail,
              "12 曲を書き出しました、4 曲は前回の分を使いました、2 曲は変換できませんでした、3 曲の曲名を整えました");
    EXPECT_TRUE(texts.showFailures);
    EXPECT_TRUE(texts.send);
    EXPECT_FALSE(texts.eject);
    EXPECT_FALSE(texts.carryOverNote);
}

TEST(ExportContentTest, CardOrFolderWording) {
    EXPECT_EQ(ExportContent::keepSentence(true), "中止しても、ここまでの曲はSD カードに残ります。次回は続きから始めます。");
    EXPECT_EQ(ExportContent::keepSentence(false),
              "中止しても、ここまでの曲は書き出し先のフォルダに残ります。次回は続きから始めます。");
}

TEST(ExportContentTest, LoudnessChoicesFindTheirValue) {
    EXPECT_EQ(ExportContent::loudnessIndex(-14.0), 0U);
    EXPECT_EQ(ExportContent::loudnessIndex(-18.0), 2U);
    EXPECT_EQ(ExportContent::loudnessIndex(-20.0), std::nullopt);
}

}  // namespace
}  // namespace tarvik
