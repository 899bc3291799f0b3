#include "App/Windows/ReviewView.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/StripedTable.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A real plan of a small Japanese library, planned by the real pass, with the
// sheet open on it; conversions are instant stand-ins.
struct OpenSheet {
    testing::ScopedXdg xdg;
    testing::TempDir music;
    testing::TempDir out;
    std::unique_ptr<AppModel> owned;
    std::unique_ptr<ReviewView> sheet;

    OpenSheet() {
        AppModel::Services services = AppModelTesting::services(xdg);
        services.settings->setString("srcPath", music.path().string());
        services.settings->setString("destPath", out.path().string());
        services.settings->setBoolean("lookup", false);
        services.volumes = std::make_shared<testing::FixtureVolumes>();
        services.locateFFmpeg = [] { return std::optional<fs::path>("/usr/bin/ffmpeg"); };
        owned = std::make_unique<AppModel>(std::move(services));
        const fs::path album = music.path() / "さくら楽団" / "はじめてのアルバム";
        fs::create_directories(album);
        const char* titles[] = {"春の風", "夏の夜の夢をもう一度だけ見せてほしいと願った日のこと", "秋"};
        for (int i = 0; i < 3; ++i)
            testing::makeTone(album / (std::to_string(i + 1) + ".flac"),
                              {.seconds = 0.2,
                               .metadata = {{"title", titles[i]},
                                            {"artist", "さくら楽団"},
                                            {"album", "はじめてのアルバム"},
                                            {"track", std::to_string(i + 1)}}});
        model().reloadArtists();
        model().startPlanning();
        EXPECT_TRUE(testing::waitUntil([this] { return !model().state().is(RunState::Case::planning); },
                                       std::chrono::seconds(60)));
        EXPECT_TRUE(model().state().is(RunState::Case::reviewing)) << model().state().message;
        sheet = std::make_unique<ReviewView>(model());
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }

    AppModel& model() { return *owned; }
    template <typename T>
    T* find(const char* name) {
        return sheet->findChild<T*>(name);
    }
};

TEST(ReviewViewTest, ShowsThePlanAndItsFolderDestination) {
    OpenSheet s;
    EXPECT_EQ(s.find<QPushButton>("reviewSongsTab")->text().toStdString(), "曲の一覧（3）");
    EXPECT_EQ(s.find<QPushButton>("reviewConfirmButton")->text().toStdString(),
              "この内容で書き出し先のフォルダに書き出す");
    EXPECT_TRUE(s.find<QPushButton>("reviewConfirmButton")->isEnabled());
    const auto& table = s.find<StripedTable>("reviewTable")->model();
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.headers().back().title, "書き出し先のフォルダ内の場所");
    EXPECT_EQ(table.cell(0, 0).text, "春の風");

    QTest::mouseClick(s.find<QPushButton>("reviewTitlesTab"), Qt::LeftButton);
    EXPECT_EQ(s.sheet->tab(), 1);
    EXPECT_EQ(table.headers().front().title, "元の表記");
    s.sheet->hide();
    s.sheet->show();
    EXPECT_EQ(s.sheet->tab(), 0);
}

TEST(ReviewViewTest, KeysAndTitleBarEndTheReviewOnlyAsTheyShould) {
    struct Case {
        const char* name;
        std::function<void(ReviewView&)> act;
        bool stillReviewing;
        bool planKept;
    };
    const Case cases[] = {
        {"escape cancels", [](ReviewView& v) { QTest::keyClick(&v, Qt::Key_Escape); }, false, false},
        {"return starts", [](ReviewView& v) { QTest::keyClick(&v, Qt::Key_Return); }, false, true},
        {"title bar cannot close", [](ReviewView& v) { v.close(); }, true, true},
    };
    for (const Case& c : cases) {
        OpenSheet s;
        c.act(*s.sheet);
        if (c.stillReviewing) {
            QApplication::processEvents();
            EXPECT_TRUE(s.sheet->isVisible()) << c.name;
            EXPECT_TRUE(s.model().state().is(RunState::Case::reviewing)) << c.name;
        } else {
            EXPECT_TRUE(testing::waitUntil([&] { return !s.sheet->isVisible(); })) << c.name;
            EXPECT_FALSE(s.model().state().is(RunState::Case::reviewing)) << c.name;
        }
        EXPECT_EQ(s.model().plan().has_value(), c.planKept) << c.name;
        if (!c.stillReviewing && c.planKept)
            testing::waitUntil([&] { return !s.model().isBusy(); }, std::chrono::seconds(60));
    }
}

TEST(ReviewViewTest, SkipToggleIsWrittenAtOnceAndTheSheetStays) {
    OpenSheet s;
    QTest::mouseClick(s.find<QCheckBox>("skipReviewToggle"), Qt::LeftButton);
    EXPECT_TRUE(s.model().skipReview());
    EXPECT_TRUE(s.xdg.settings()->boolean("skipReview").value_or(false));
    EXPECT_TRUE(s.sheet->isVisible());
}

TEST(ReviewViewTest, ScreenshotsLightAndDark) {
    testing::AppearanceScope scope;
    OpenSheet s;
    for (const auto& [mode, suffix] : {std::pair{Appearance::Mode::light, "light"},
                                       std::pair{Appearance::Mode::dark, "dark"}}) {
        testing::switchAppearance(mode);
        QApplication::processEvents();
        testing::saveScreenshot(*s.sheet, std::string("review-sheet-") + suffix);
    }
}

}  // namespace
}  // namespace tarvik
