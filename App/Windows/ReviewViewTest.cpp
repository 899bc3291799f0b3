#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest>

#include "App/Windows/StripedTable.hpp"
#include "App/Windows/WindowsTesting.hpp"

namespace tarvik {
namespace {

using OpenSheet = testing::OpenReview;

TEST(ReviewViewTest, ShowsThePlanAndItsFolderDestination) {
    OpenSheet s;
    EXPECT_EQ(s.find<QPushButton>("reviewSongsTab")->text().toStdString(), "曲の一覧（3）");
    EXPECT_TRUE(s.find<QPushButton>("reviewConfirmButton")->isEnabled());
    const auto& table = s.find<StripedTable>("reviewTable")->model();
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.headers().back().title, "書き出し先のフォルダ内の場所");
    EXPECT_EQ(table.cell(0, 0).text, "春の風");

    testing::click(*s.sheet, "reviewTitlesTab");
    EXPECT_EQ(s.sheet->tab(), 1);
    EXPECT_EQ(table.headers().front().title, "元の表記");
    s.sheet->hide();
    s.sheet->show();
    EXPECT_EQ(s.sheet->tab(), 0);
    // Restored from minimised, the sheet is where the user left it.
    testing::click(*s.sheet, "reviewTitlesTab");
    testing::minimiseAndRestore(*s.sheet);
    EXPECT_EQ(s.sheet->tab(), 1);

    // The skip toggle is written at once and the sheet stays.
    testing::click(*s.sheet, "skipReviewToggle");
    EXPECT_TRUE(s.model().skipReview());
    EXPECT_TRUE(s.f.xdg.settings()->boolean("skipReview").value_or(false));
    EXPECT_TRUE(s.sheet->isVisible());
}

TEST(ReviewViewTest, KeysAndTitleBarEndTheReviewOnlyAsTheyShould) {
    const struct {
        const char* name;
        std::function<void(ReviewView&)> act;
        bool stillReviewing, planKept;
    } cases[] = {
        {"escape cancels", [](ReviewView& v) { QTest::keyClick(&v, Qt::Key_Escape); }, false,
         false},
        {"return starts", [](ReviewView& v) { QTest::keyClick(&v, Qt::Key_Return); }, false, true},
        {"title bar cannot close", [](ReviewView& v) { v.close(); }, true, true},
    };
    for (const auto& c : cases) {
        OpenSheet s;
        c.act(*s.sheet);
        QApplication::processEvents();
        EXPECT_TRUE(testing::waitUntil([&] { return s.sheet->isVisible() == c.stillReviewing; }))
            << c.name;
        EXPECT_EQ(s.model().state().is(RunState::Case::reviewing), c.stillReviewing) << c.name;
        EXPECT_EQ(s.model().plan().has_value(), c.planKept) << c.name;
        if (!c.stillReviewing && c.planKept)
            testing::waitUntil([&] { return !s.model().isBusy(); }, std::chrono::seconds(60));
    }
}

}  // namespace
}  // namespace tarvik
