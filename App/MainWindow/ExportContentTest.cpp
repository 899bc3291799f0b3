#include <gtest/gtest.h>

#include "App/MainWindow/ExportContent.hpp"

namespace tarvik {
namespace {

using ExportContent::Outcome;
using Progress = ConversionEvent::Progress;

Progress counts(std::int64_t done, std::int64_t skipped, std::int64_t failed, std::int64_t total,
                std::optional<std::int64_t> eta = std::nullopt) {
    return {.done = done, .skipped = skipped, .failed = failed, .total = total, .etaSeconds = eta};
}

TEST(ExportContentTest, MinutesLeftAreWholeAndAtLeastOne) {
    for (const auto& [seconds, minutes] : std::vector<std::pair<std::int64_t, std::string>>{
             {0, "1"}, {59, "1"}, {60, "1"}, {150, "2"}, {3600, "60"}}) {
        const auto texts =
            ExportContent::progressTexts("変換しています…", counts(1, 0, 0, 10, seconds));
        EXPECT_EQ(texts.eta, "あと約 " + minutes + " 分") << seconds;
    }
}

// Skipped songs count as dealt with; before there is a total there are no counts and no time left.
TEST(ExportContentTest, ProgressCountsWhatWasDealtWith) {
    const struct {
        std::string phase;
        std::optional<Progress> progress;
        bool determinate;
        double fraction;
        std::string count;
        std::optional<std::string> failed;
        std::string label;
    } cases[] = {
        {"変換しています…", counts(10, 5, 0, 20), true, 0.75, "15 / 20 曲", std::nullopt,
         "変換しています… 20 曲中 15 曲"},
        {"変換しています…", counts(10, 0, 3, 20), true, 0.65, "13 / 20 曲", "失敗 3 曲",
         "変換しています… 20 曲中 13 曲"},
        {"準備しています…", counts(0, 0, 0, 0, 30), false, 0, "", std::nullopt,
         "準備しています… 0 曲中 0 曲"},
        {"曲を探しています…", std::nullopt, false, 0, "", std::nullopt, "曲を探しています…"},
    };
    for (const auto& c : cases) {
        const auto texts = ExportContent::progressTexts(c.phase, c.progress);
        EXPECT_EQ(texts.determinate, c.determinate) << c.label;
        EXPECT_DOUBLE_EQ(texts.fraction, c.fraction) << c.label;
        EXPECT_EQ(texts.count, c.count);
        EXPECT_EQ(texts.failed, c.failed) << c.label;
        EXPECT_EQ(texts.eta, std::nullopt) << c.label;
        EXPECT_EQ(texts.accessibleLabel, c.label);
    }
}

using Halt = ConversionEvent::Halt;

ConversionEvent::Summary summary(Progress progress, bool stopped, bool cardFull,
                                 Halt halt = Halt::none) {
    return {.progress = progress,
            .stopped = stopped,
            .cardFull = cardFull,
            .renamed = 0,
            .placed = {},
            .halt = halt};
}

// The buttons and notes a summary offers, by name.
std::string offers(const ExportContent::SummaryTexts& texts) {
    std::string names;
    for (const auto& [on, name] : {std::pair{texts.carryOverNote, "carryOver "},
                                   {texts.continueNext, "continue "},
                                   {texts.eject, "eject "},
                                   {texts.send, "send "},
                                   {texts.showFailures, "failures "}})
        if (on) names += name;
    return names;
}

// The headline takes the first outcome that matches: halted (each cause in
// its own words), stopped, full, nothing written, failures, complete. Card or
// folder is what the run wrote onto; an ejected card only loses its eject
// button. A run that wrote nothing and failed is never "できあがり".
TEST(ExportContentTest, SummaryOfEachEnding) {
    const struct {
        ConversionEvent::Summary summary;
        bool toCard;
        std::size_t renamed;
        Outcome outcome;
        std::string headline, detail, offers;
        std::optional<bool> cardThere = std::nullopt;  // else as toCard
    } cases[] = {
        // A pulled card: the lost destination itself is no failed song.
        {summary(counts(6, 0, 1, 9), true, false, Halt::destinationLost), true, 0, Outcome::halted,
         "書き出し先が見つかりません。SD カードかフォルダを選び直してください。",
         "6 曲を書き出しました", "", false},
        {summary(counts(6, 0, 3, 9), true, true, Halt::destinationLost), false, 0, Outcome::halted,
         "書き出し先が見つかりません。SD カードかフォルダを選び直してください。",
         "6 曲を書き出しました、2 曲は変換できませんでした", "carryOver continue failures "},
        // A card the system remounted read-only: its cause, once, as the headline.
        {summary(counts(0, 0, 1, 96), true, false, Halt::destinationReadOnly), true, 0,
         Outcome::halted, "書き込めません: SD カード（読み取り専用です）", "0 曲を書き出しました",
         "eject "},
        {summary(counts(4, 0, 2, 9), true, false, Halt::destinationReadOnly), false, 0,
         Outcome::halted, "書き込めません: 書き出し先のフォルダ（読み取り専用です）",
         "4 曲を書き出しました、1 曲は変換できませんでした", "send failures "},
        // The card's music folder is a link: nothing starts, and the link is no song.
        {summary(counts(0, 0, 1, 96), true, false, Halt::destinationLink), true, 0, Outcome::halted,
         "書き出し先のフォルダがリンクです", "0 曲を書き出しました", "eject "},
        {summary(counts(45, 0, 1, 96), true, false, Halt::musicFolderLost), true, 0,
         Outcome::halted, "音楽フォルダが見つかりません。つなぎ直すか、選び直してください。",
         "45 曲を書き出しました", "eject "},
        // Every song failed: no song was written, whatever the reason.
        {summary(counts(0, 0, 96, 96), false, false), true, 0, Outcome::nothingWritten,
         "書き出せませんでした", "0 曲を書き出しました、96 曲は変換できませんでした",
         "eject failures "},
        {summary(counts(0, 0, 1, 1), false, false), false, 0, Outcome::nothingWritten,
         "書き出せませんでした", "0 曲を書き出しました、1 曲は変換できませんでした",
         "send failures "},
        {summary(counts(0, 5, 2, 7), false, false), false, 0, Outcome::nothingWritten,
         "書き出せませんでした",
         "0 曲を書き出しました、5 曲は前回の分を使いました、2 曲は変換できませんでした",
         "send failures "},
        {summary(counts(3, 0, 0, 9), false, true), true, 0, Outcome::cardFull,
         "SD カードがいっぱいになりました", "3 曲を書き出しました", "carryOver continue ", false},
        // A stopped run that filled the card still offers to continue.
        {summary(counts(3, 0, 0, 9), true, true), true, 0, Outcome::stopped, "中止しました",
         "3 曲を書き出しました", "carryOver continue eject "},
        {summary(counts(3, 0, 1, 9), true, true), true, 0, Outcome::stopped, "中止しました",
         "3 曲を書き出しました、1 曲は変換できませんでした", "carryOver continue eject failures "},
        {summary(counts(3, 0, 1, 9), false, true), true, 0, Outcome::cardFull,
         "SD カードがいっぱいになりました", "3 曲を書き出しました、1 曲は変換できませんでした",
         "carryOver continue eject failures "},
        {summary(counts(7, 0, 0, 9), false, true), false, 0, Outcome::cardFull,
         "書き出し先のフォルダがいっぱいになりました", "7 曲を書き出しました",
         "carryOver continue send "},
        {summary(counts(3, 0, 1, 9), false, false), true, 0, Outcome::failures,
         "できあがり！ 車で聴けます", "3 曲を書き出しました、1 曲は変換できませんでした",
         "eject failures "},
        {summary(counts(12, 4, 2, 18), false, false), false, 3, Outcome::failures,
         "できあがり！ 車で聴けます",
         "12 曲を書き出しました、4 曲は前回の分を使いました、2 曲は変換できませんでした、3 "
         "曲の曲名を整えました",
         "send failures "},
        {summary(counts(0, 0, 0, 0), false, false), false, 0, Outcome::complete,
         "できあがり！ 車で聴けます", "0 曲を書き出しました", "send "},
    };
    for (const auto& c : cases) {
        const auto texts = ExportContent::summaryTexts(c.summary, c.toCard,
                                                       c.cardThere.value_or(c.toCard), c.renamed);
        EXPECT_EQ(texts.outcome, c.outcome) << c.detail;
        EXPECT_EQ(texts.headline, c.headline) << c.detail;
        EXPECT_EQ(texts.detail, c.detail);
        EXPECT_EQ(offers(texts), c.offers) << c.detail;
    }
}

TEST(ExportContentTest, LoudnessChoicesFindTheirValue) {
    EXPECT_EQ(ExportContent::loudnessIndex(-14.0), 0U);
    EXPECT_EQ(ExportContent::loudnessIndex(-18.0), 2U);
    EXPECT_EQ(ExportContent::loudnessIndex(-20.0), std::nullopt);
}

}  // namespace
}  // namespace tarvik
