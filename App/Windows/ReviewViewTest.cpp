#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest>

#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/ReviewView.hpp"
#include "App/Windows/StripedTable.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A real plan of a small Japanese library, planned by the real pass, with the
// sheet open on it; conversions are instant stand-ins.
struct OpenSheet {
    testing::TempDir music;
    testing::TempDir out;
    testing::ModelFixture f{[this](Settings& settings) {
                                settings.setString("srcPath", music.path().string());
                                settings.setString("destPath", out.path().string());
                                settings.setBoolean("lookup", false);
                            },
                            true};
    std::unique_ptr<ReviewView> sheet;

    OpenSheet() {
        const char* artist = "さくら楽団";
        testing::makeMusicLibrary(music.path(),
                                  {{artist, "はじめてのアルバム", 1, "春の風"},
                                   {artist, "はじめてのアルバム", 2,
                                    "夏の夜の夢をもう一度だけ見せてほしいと願った日のこと"},
                                   {artist, "はじめてのアルバム", 3, "秋"}});
        model().reloadArtists();
        model().startPlanning();
        EXPECT_TRUE(
            testing::waitUntil([this] { return !model().state().is(RunState::Case::planning); },
                               std::chrono::seconds(60)));
        EXPECT_TRUE(model().state().is(RunState::Case::reviewing)) << model().state().message;
        sheet = std::make_unique<ReviewView>(model());
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }

    AppModel& model() { return *f.model; }
    template <typename T>
    T* find(const char* name) {
        return testing::child<T>(*sheet, name);
    }
};

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
    testing::inLightAndDark([&](const std::string& suffix) {
        testing::saveScreenshot(*s.sheet, "review-sheet-" + suffix);
    });
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
