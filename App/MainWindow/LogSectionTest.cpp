#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include "App/MainWindow/LogContent.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

using Kind = LogLine::Kind;

QPlainTextEdit* box(LogSection& section) {
    return section.findChild<QPlainTextEdit*>("logBox");
}

std::vector<std::string> rows(LogSection& section) {
    std::vector<std::string> result;
    if (box(section)->document()->isEmpty()) return result;
    for (QTextBlock block = box(section)->document()->begin(); block.isValid();
         block = block.next())
        result.push_back(block.text().replace(QChar::LineSeparator, '\n').toStdString());
    return result;
}

// Each filter shows only its kinds; one out of range shows everything.
TEST(LogSectionTest, FilterShowsItsLinesInLogOrder) {
    testing::ModelFixture f;
    f.model->appendLog(Kind::converted, "変換 A/01 一.mp3");
    f.model->appendLog(Kind::renamed, "曲名 A / いち → A / 一");
    f.model->appendLog(Kind::error, "[失敗] 02.flac\n    壊れています");
    f.model->appendLog(Kind::notice, "カードがいっぱいです");
    LogSection section(*f.model);
    EXPECT_EQ(rows(section).size(), 4U);
    section.setFilter(1);
    EXPECT_EQ(rows(section), std::vector<std::string>{"曲名 A / いち → A / 一"});
    section.setFilter(2);
    EXPECT_EQ(rows(section), std::vector<std::string>{"[失敗] 02.flac\n    壊れています"});
    // The failure's two lines are one row, in the danger colour.
    const QTextBlock row = box(section)->document()->begin();
    EXPECT_EQ(row.begin().fragment().charFormat().foreground().color(), Palette::danger());
    f.model->appendLog(Kind::converted, "変換 B/01.mp3");
    EXPECT_EQ(rows(section).size(), 1U);
    f.model->appendLog(Kind::error, "[失敗] 03.flac");
    EXPECT_EQ(rows(section).size(), 2U);
    section.setFilter(5);
    EXPECT_EQ(rows(section).size(), 6U);
    // Each time the panel appears it starts again at "すべて".
    for (int shows = 0; shows < 2; ++shows) {
        section.setFilter(2);
        section.show();
        EXPECT_EQ(section.filter(), 0);
        EXPECT_TRUE(testing::child<QAbstractButton>(section, "logFilter0")->isChecked());
        EXPECT_EQ(rows(section).size(), 6U);
        section.hide();
    }
    AppModelTesting::clearLog(*f.model);
    EXPECT_TRUE(rows(section).empty());
}

TEST(LogSectionTest, FollowsTheCapWithoutRebuilding) {
    testing::ModelFixture f;
    LogSection section(*f.model);
    section.setFilter(2);
    for (std::size_t i = 0; i < AppModel::logLimit; ++i)
        f.model->appendLog(i % 2 == 0 ? Kind::error : Kind::converted, "line " + std::to_string(i));
    EXPECT_EQ(rows(section).size(), AppModel::logLimit / 2);
    // The 5,001st line pushes out the oldest, an error line shown here.
    f.model->appendLog(Kind::converted, "line 5000");
    const auto shown = rows(section);
    ASSERT_EQ(shown.size(), AppModel::logLimit / 2 - 1);
    EXPECT_EQ(shown.front(), "line 2");
    section.setFilter(0);
    EXPECT_EQ(rows(section).size(), AppModel::logLimit);
    EXPECT_EQ(rows(section).front(), "line 1");
}

// New lines scroll into view, also an error line under the failure filter;
// in low-load mode the position stays where it is.
TEST(LogSectionTest, NewLinesScrollIntoViewUnlessLowLoadAndCollapsingTurnsTheLogOff) {
    for (bool lowLoad : {false, true}) {
        testing::ModelFixture f;
        f.model->setLowLoadManual(lowLoad);
        f.model->setShowLog(true);
        for (int i = 0; i < 60; ++i)
            f.model->appendLog(Kind::converted, "変換 " + std::to_string(i));
        LogSection section(*f.model);
        section.resize(500, 400);
        section.show();
        QApplication::processEvents();
        QScrollBar* bar = box(section)->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), 0);  // the first show stays at the top
        f.model->appendLog(Kind::converted, "変換 次");
        EXPECT_EQ(bar->value(), lowLoad ? 0 : bar->maximum()) << lowLoad;
        section.setFilter(2);
        f.model->appendLog(Kind::converted, "変換 もう一つ");
        EXPECT_TRUE(rows(section).empty());
        for (int i = 0; i < 40; ++i)
            f.model->appendLog(Kind::error, "[失敗] " + std::to_string(i) + ".flac");
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(bar->value(), lowLoad ? 0 : bar->maximum()) << lowLoad;

        // Collapsing turns showLog off; the log has error lines, so the panel stays.
        QWidget* content = box(section)->parentWidget();
        EXPECT_TRUE(content->isVisible());
        testing::click(section, "logDisclosure");
        EXPECT_FALSE(f.model->showLog());
        EXPECT_FALSE(content->isVisible());
        EXPECT_TRUE(LogContent::sectionShown(f.model->showLog(), f.model->log()));
        f.model->setShowLog(true);
        EXPECT_TRUE(content->isVisible());
    }
}

}  // namespace
}  // namespace tarvik
