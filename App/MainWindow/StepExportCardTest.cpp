#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "App/MainWindow/Card.hpp"
#include "App/MainWindow/StepBadge.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

template <typename T = QWidget>
T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

std::string text(QWidget& parent, const char* name) { return child<QLabel>(parent, name)->text().toStdString(); }
bool shown(QWidget& parent, const char* name) { return child(parent, name)->isVisibleTo(&parent); }

// A model that may export: a music folder with a selection, a destination
// folder that exists and the default unit.
struct ReadyModel {
    testing::TempDir dir;
    std::unique_ptr<testing::ModelFixture> f;

    ReadyModel() {
        std::filesystem::create_directories(dir.path() / "music" / "青い月");
        std::filesystem::create_directories(dir.path() / "out");
        f = std::make_unique<testing::ModelFixture>([&](Settings& settings) {
            settings.setString("srcPath", (dir.path() / "music").string());
            settings.setStringList("selected", {"青い月"});
            settings.setString("destPath", (dir.path() / "out").string());
        });
    }
    AppModel& model() { return *f->model; }
};

ConversionEvent::Summary summary(std::int64_t done, std::int64_t failed, bool stopped, bool cardFull) {
    ConversionEvent::Summary s;
    s.progress.done = done;
    s.progress.failed = failed;
    s.progress.total = done + failed;
    s.stopped = stopped;
    s.cardFull = cardFull;
    return s;
}

TEST(StepExportCardTest, WithoutSelectionTheStartButtonWaits) {
    testing::ModelFixture f;
    StepExportCard step(*f.model);
    EXPECT_FALSE(child<QPushButton>(step, "startButton")->isEnabled());
    EXPECT_TRUE(shown(step, "startHint"));
    EXPECT_EQ(text(step, "startHint"), "上の ① ② を先に済ませてください");
    EXPECT_FALSE(step.findChild<Card*>()->highlighted());
    EXPECT_FALSE(shown(step, "herePill"));
}

TEST(StepExportCardTest, ReadyModelHighlightsAndStartsPlanning) {
    ReadyModel ready;
    StepExportCard step(ready.model());
    ASSERT_TRUE(ready.model().canExport());
    EXPECT_TRUE(step.findChild<Card*>()->highlighted());
    EXPECT_TRUE(step.findChild<StepBadge*>()->active());
    EXPECT_FALSE(shown(step, "startHint"));
    // The fixture has no ffmpeg: planning ends at once with its message.
    QTest::mouseClick(child<QPushButton>(step, "startButton"), Qt::LeftButton);
    EXPECT_TRUE(ready.model().state().is(RunState::Case::failed));
    EXPECT_EQ(text(step, "failedMessage"), "アプリの中に ffmpeg が見つかりません。アプリを入れ直してください。");
    EXPECT_FALSE(shown(step, "exportOptions"));
}

TEST(StepExportCardTest, PlanningShowsThePhaseAndAPlainStop) {
    ReadyModel ready;
    StepExportCard step(ready.model());
    AppModelTesting::setState(ready.model(), RunState::planning());
    ready.model().handleEvent(ConversionEvent::reading(3, 10));
    EXPECT_TRUE(shown(step, "progressRow"));
    EXPECT_TRUE(shown(step, "progressWaiting"));
    EXPECT_FALSE(shown(step, "progressCount"));
    EXPECT_EQ(text(step, "progressPhase"), "曲の情報を読んでいます… 3 / 10");
    EXPECT_FALSE(shown(step, "exportOptions"));
    EXPECT_FALSE(step.findChild<Card*>()->highlighted());
    QTest::mouseClick(child<QPushButton>(step, "planningStopButton"), Qt::LeftButton);
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
    child<QCheckBox>(step, "lookupToggle")->click();
    EXPECT_FALSE(f.model->lookup());
}

TEST(StepExportCardTest, RunningIntoAFolderOffersToSend) {
    ReadyModel ready;
    StepExportCard step(ready.model());
    AppModelTesting::setState(ready.model(), RunState::running());
    ConversionEvent::Progress progress;
    progress.done = 3;
    progress.total = 4;
    progress.etaSeconds = 150;
    ready.model().handleEvent({progress});
    EXPECT_EQ(text(step, "progressCount"), "3 / 4 曲");
    EXPECT_EQ(text(step, "progressEta"), "あと約 2 分");
    EXPECT_TRUE(shown(step, "runningSendButton"));
    EXPECT_EQ(text(step, "keepSentence"), "中止しても、ここまでの曲は書き出し先のフォルダに残ります。次回は続きから始めます。");
    // The stop button works while the model is busy.
    EXPECT_TRUE(child(step, "runningStopButton")->isEnabled());
    EXPECT_FALSE(child(step, "exportOptions")->isEnabled());
    QTest::mouseClick(child<QPushButton>(step, "runningSendButton"), Qt::LeftButton);
    EXPECT_TRUE(ready.model().showSend());
}

TEST(StepExportCardTest, DestinationInOtherCompositionStillCountsAsTheCard) {
    testing::ModelFixture f;
    const std::string nfc = "/media/u/カード";  // カ and ド composed
    f.model->setDestPath(text::nfkd(nfc));
    ASSERT_NE(f.model->destPath(), nfc);
    AppModelTesting::setVolumes(*f.model, {Volume{nfc, "カード", 0, true}});
    StepExportCard step(*f.model);
    AppModelTesting::setState(*f.model, RunState::running());
    EXPECT_FALSE(shown(step, "runningSendButton"));
    EXPECT_EQ(text(step, "keepSentence"), "中止しても、ここまでの曲はSD カードに残ります。次回は続きから始めます。");

    AppModelTesting::setState(*f.model, RunState::finished(summary(5, 0, false, true)));
    EXPECT_EQ(text(step, "summaryHeadline"), "SD カードがいっぱいになりました");
    EXPECT_TRUE(shown(step, "ejectButton"));
    EXPECT_FALSE(shown(step, "summarySendButton"));
}

TEST(StepExportCardTest, SummaryOfEachEnding) {
    ReadyModel ready;
    StepExportCard step(ready.model());
    struct Case {
        ConversionEvent::Summary summary;
        std::string headline;
        std::string detail;
        bool carryOver;
        bool failures;
    };
    const std::vector<Case> cases{
        {summary(4, 0, true, true), "中止しました", "4 曲を書き出しました", true, false},
        {summary(7, 0, false, true), "書き出し先のフォルダがいっぱいになりました", "7 曲を書き出しました", true, false},
        {summary(5, 2, false, false), "できあがり！ 車で聴けます", "5 曲を書き出しました、2 曲は変換できませんでした", false,
         true},
        {summary(9, 0, false, false), "できあがり！ 車で聴けます", "9 曲を書き出しました", false, false},
    };
    for (const Case& c : cases) {
        AppModelTesting::setState(ready.model(), RunState::finished(c.summary));
        EXPECT_TRUE(step.findChild<StepBadge*>()->done());
        EXPECT_EQ(text(step, "summaryHeadline"), c.headline);
        EXPECT_EQ(text(step, "summaryDetail"), c.detail);
        EXPECT_EQ(shown(step, "summaryCarryOver"), c.carryOver) << c.headline;
        EXPECT_EQ(shown(step, "continueButton"), c.carryOver) << c.headline;
        EXPECT_EQ(shown(step, "showFailuresButton"), c.failures) << c.headline;
        EXPECT_TRUE(shown(step, "summarySendButton"));
        EXPECT_FALSE(shown(step, "ejectButton"));
    }
    QTest::mouseClick(child<QPushButton>(step, "showFailuresButton"), Qt::LeftButton);
    EXPECT_TRUE(ready.model().showLog());
    QTest::mouseClick(child<QPushButton>(step, "summaryBackButton"), Qt::LeftButton);
    EXPECT_TRUE(ready.model().state().is(RunState::Case::idle));
    EXPECT_TRUE(shown(step, "exportOptions"));
}

TEST(StepExportCardTest, FailedPlanningShowsItsMessageAndGoesBack) {
    testing::ModelFixture f;
    StepExportCard step(*f.model);
    AppModelTesting::setState(*f.model, RunState::failed("カーナビの機種を選んでください。"));
    EXPECT_EQ(text(step, "failedMessage"), "カーナビの機種を選んでください。");
    EXPECT_FALSE(shown(step, "exportOptions"));
    QTest::mouseClick(child<QPushButton>(step, "failedBackButton"), Qt::LeftButton);
    EXPECT_TRUE(f.model->state().is(RunState::Case::idle));
}

}  // namespace
}  // namespace tarvik
