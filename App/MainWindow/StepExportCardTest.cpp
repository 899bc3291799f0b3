#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <cstdlib>

#include "App/Kit/Card.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/StepBadge.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/MainWindow/ExportContent.hpp"
#include "App/MainWindow/MainWindowTesting.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using testing::child;
using testing::click;
using testing::expectShown;
std::string text(QWidget& parent, const char* name) {
    return testing::labelText(parent, name);
}

ConversionEvent::Summary summary(std::int64_t done, std::int64_t failed, bool stopped,
                                 bool cardFull) {
    return {.progress = {.done = done,
                         .failed = failed,
                         .total = done + failed,
                         .etaSeconds = std::nullopt},
            .stopped = stopped,
            .cardFull = cardFull,
            .renamed = 0,
            .placed = {}};
}

// Without a selection the start button waits; ready, the step is highlighted
// and starts planning, which fails at once here and can go back.
TEST(StepExportCardTest, StartWaitsForTheFirstStepsThenPlansAndAFailureGoesBack) {
    testing::ReadyModel ready;
    StepExportCard step(ready.model());
    const std::set<std::string> selected = ready.model().selected();
    ready.model().setSelected({});
    EXPECT_FALSE(child(step, "startButton")->isEnabled());
    EXPECT_EQ(text(step, "startHint"), "上の ① ② を先に済ませてください");
    expectShown(step, {{"startHint", true}, {"herePill", false}});

    ready.model().setSelected(selected);
    ASSERT_TRUE(ready.model().canExport());
    EXPECT_TRUE(step.findChild<Card*>()->highlighted());
    expectShown(step, {{"startHint", false}});
    // The folders are asked about first, the window going on meanwhile; the
    // fixture has no ffmpeg: planning then ends at once with its message.
    click(step, "startButton");
    EXPECT_FALSE(child(step, "startButton")->isEnabled());
    EXPECT_EQ(text(step, "startHint"), "確認しています…");
    ASSERT_TRUE(
        testing::waitUntil([&] { return ready.model().state().is(RunState::Case::failed); }));
    EXPECT_EQ(text(step, "failedMessage"),
              "アプリの中に ffmpeg が見つかりません。アプリを入れ直してください。");
    expectShown(step, {{"exportOptions", false}});
    click(step, "failedBackButton");
    EXPECT_TRUE(ready.model().state().is(RunState::Case::idle));
    expectShown(step, {{"exportOptions", true}});
}

// The share of the bar's middle line drawn in the accent colour.
double accentShare(QWidget& bar) {
    const QImage image = bar.grab().toImage();
    const QColor accent = Palette::accent();
    int near = 0;
    for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, image.height() / 2);
        near += std::abs(pixel.red() - accent.red()) + std::abs(pixel.green() - accent.green()) +
                            std::abs(pixel.blue() - accent.blue()) <
                        60
                    ? 1
                    : 0;
    }
    return static_cast<double>(near) / image.width();
}

// Planning has no counts yet: the bar only shows that work goes on, and never
// reads as nearly done; its stop is a real button.
TEST(StepExportCardTest, PlanningShowsThePhaseABusyBarAndAStopButton) {
    testing::ReadyModel ready;
    StepExportCard step(ready.model());
    step.resize(700, 400);
    step.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&step));
    AppModelTesting::setState(ready.model(), RunState::planning());
    ready.model().handleEvent(ConversionEvent::reading(850, 2000));
    expectShown(step, {{"progressRow", true},
                       {"progressWaiting", true},
                       {"progressCount", false},
                       {"exportOptions", false}});
    EXPECT_EQ(text(step, "progressPhase"), "曲の情報を読んでいます… 850 / 2000");
    for (int look = 0; look < 5; ++look) {
        QTest::qWait(170);
        EXPECT_LT(accentShare(*child(step, "progressWaiting")), 0.35) << look;
    }
    EXPECT_FALSE(child<QPushButton>(step, "planningStopButton")->isFlat());
    EXPECT_FALSE(step.findChild<Card*>()->highlighted());
    click(step, "planningStopButton");
    EXPECT_EQ(text(step, "progressPhase"), "中止しています…");
}

TEST(StepExportCardTest, LoudnessPickerKeepsItsValueWhileNormalizeIsOff) {
    testing::ModelFixture f;
    f.model->setLoudness(-16.0);
    StepExportCard step(*f.model);
    auto* picker = child<QComboBox>(step, "loudnessPicker");
    EXPECT_EQ(picker->currentText(), "少し小さめ");
    child<QCheckBox>(step, "normalizeToggle")->click();
    EXPECT_FALSE(f.model->normalize());
    EXPECT_FALSE(picker->isEnabled());
    child<QCheckBox>(step, "normalizeToggle")->click();
    EXPECT_TRUE(picker->isEnabled());
    EXPECT_EQ(picker->currentText(), "少し小さめ");
}

// Running, the step says where the songs stay and offers to send only into a
// folder: a card named in the other composition is still the card. A full
// card's summary keeps its wording once the card is out; only the eject goes.
TEST(StepExportCardTest, RunningAndFullSayCardOrFolderAsTheRunStarted) {
    const std::string nfc = "/media/u/カード";  // カ and ド composed
    for (const bool toCard : {false, true}) {
        testing::ReadyModel ready;
        AppModel& model = ready.model();
        if (toCard) {
            model.setDestPath(text::nfkd(nfc));
            ASSERT_NE(model.destPath(), nfc);
            AppModelTesting::setVolumes(model, {Volume{nfc, "カード", 0, true}});
        }
        StepExportCard step(model);
        AppModelTesting::setState(model, RunState::running());
        model.handleEvent({ConversionEvent::Progress{.done = 3, .total = 4, .etaSeconds = 150}});
        EXPECT_EQ(text(step, "progressEta"), "あと約 2 分");
        expectShown(step, {{"runningSendButton", !toCard}});
        EXPECT_EQ(text(step, "keepSentence"), std::string("中止しても、ここまでの曲は") +
                                                  (toCard ? "SD カード" : "書き出し先のフォルダ") +
                                                  "に残ります。次回は続きから始めます。");
        // The stop button works while the model is busy.
        EXPECT_TRUE(child(step, "runningStopButton")->isEnabled());
        EXPECT_FALSE(child(step, "exportOptions")->isEnabled());
        if (!toCard) {
            click(step, "runningSendButton");
            EXPECT_TRUE(model.showSend());
            continue;
        }
        AppModelTesting::setState(model, RunState::finished(summary(5, 0, false, true), true));
        EXPECT_EQ(text(step, "summaryHeadline"), "SD カードがいっぱいになりました");
        expectShown(step, {{"ejectButton", true}, {"summarySendButton", false}});
        AppModelTesting::setVolumes(model, {});
        model.setDestPath("");
        EXPECT_EQ(text(step, "summaryHeadline"), "SD カードがいっぱいになりました");
        expectShown(step, {{"ejectButton", false}, {"summarySendButton", false}});
    }
}

// The button, the card step and the run share one check of the destination:
// a folder gone since the button was enabled is seen on the press, and the
// card step names the cause.
TEST(StepExportCardTest, APressChecksTheDestinationAgainAndTheCardStepSaysWhy) {
    testing::ReadyModel ready;
    StepExportCard step(ready.model());
    StepCardCard card(ready.model());
    ASSERT_TRUE(child(step, "startButton")->isEnabled());
    expectShown(card, {{"destinationRefusal", false}});
    std::filesystem::remove(ready.dir / "out");
    click(step, "startButton");
    ready.f.settled();
    EXPECT_TRUE(ready.model().state().is(RunState::Case::idle));
    EXPECT_FALSE(child(step, "startButton")->isEnabled());
    expectShown(card, {{"destinationRefusal", true}});
    EXPECT_EQ(text(card, "destinationRefusal"),
              "書き出し先が見つかりません。SD カードかフォルダを選び直してください。");
}

// The finished page shows what the summary's texts say, under the symbol of
// its ending; its buttons act.
TEST(StepExportCardTest, SummaryOfEachEnding) {
    testing::ReadyModel ready;
    StepExportCard step(ready.model());
    using Symbol = Icons::Symbol;
    const struct {
        ConversionEvent::Summary ending;
        Symbol symbol;
        QColor colour;
    } cases[] = {
        {summary(4, 0, true, true), Symbol::stopCircleFill,
         TextStyle::toneColor(TextStyle::Tone::secondary)},
        {summary(7, 0, false, true), Symbol::sdcardFill, Palette::color(Palette::Name::warning)},
        {summary(5, 2, false, false), Symbol::exclamationmarkTriangleFill,
         Palette::color(Palette::Name::danger)},
        // Nothing written: never the party of a finished export.
        {summary(0, 1, false, false), Symbol::exclamationmarkTriangleFill,
         Palette::color(Palette::Name::danger)},
        {summary(5, 0, false, false), Symbol::partyPopperFill,
         Palette::color(Palette::Name::orange)},
    };
    for (const auto& [ending, symbol, colour] : cases) {
        AppModelTesting::setState(ready.model(), RunState::finished(ending));
        const auto texts = ExportContent::summaryTexts(ending, false, false, 0);
        EXPECT_TRUE(step.findChild<StepBadge*>()->done());
        EXPECT_EQ(text(step, "summaryHeadline"), texts.headline);
        EXPECT_EQ(text(step, "summaryDetail"), texts.detail);
        const QLabel* shown = child<QLabel>(step, "summarySymbol");
        EXPECT_EQ(shown->pixmap().toImage(),
                  Icons::pixmap(symbol, 34, colour, shown->devicePixelRatioF()).toImage())
            << texts.headline;
        expectShown(step, {{"summaryCarryOver", texts.carryOverNote},
                           {"continueButton", texts.continueNext},
                           {"showFailuresButton", texts.showFailures},
                           {"summarySendButton", texts.send},
                           {"ejectButton", texts.eject}});
    }
    click(step, "showFailuresButton");
    EXPECT_TRUE(ready.model().showLog());
    click(step, "summaryBackButton");
    EXPECT_TRUE(ready.model().state().is(RunState::Case::idle));
    expectShown(step, {{"exportOptions", true}});
}

}  // namespace
}  // namespace tarvik
