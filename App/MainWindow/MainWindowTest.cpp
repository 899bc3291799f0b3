#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/Dialogs.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainContent.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A model past the welcome sheet, unless a test asks for a first start.
testing::ModelFixture onboardedModel(const std::function<void(Settings&)>& more = {}) {
    return testing::ModelFixture([&](Settings& settings) {
        settings.setBoolean("onboarded", true);
        if (more) more(settings);
    });
}

struct Opened {
    int count = 0;
    std::function<void()> action() {
        return [this] { ++count; };
    }
};

TEST(MainContentTest, CarryOverBannerNeedsBothTheFlagAndSongs) {
    const struct {
        bool continuing;
        std::set<std::string> carryOver;
        bool shown;
    } cases[] = {{false, {}, false}, {true, {}, false}, {false, {"a/1.mp3"}, false}, {true, {"a/1.mp3"}, true}};
    for (const auto& c : cases) {
        testing::ModelFixture f;
        f.model->setCarryOver(c.carryOver);
        f.model->setContinuing(c.continuing);
        EXPECT_EQ(MainContent::showsCarryOver(*f.model), c.shown) << c.continuing << " " << c.carryOver.size();
    }
}

TEST(MainWindowTest, CarryOverBannerNamesTheSongsAndItsButtonForgetsThem) {
    testing::ModelFixture f = onboardedModel();
    std::set<std::string> songs;
    for (int i = 0; i < 37; ++i) songs.insert("A/Album/" + std::to_string(i) + ".mp3");
    f.model->setCarryOver(songs);
    f.model->setContinuing(true);
    MainWindow window(*f.model, {});
    window.show();
    auto* banner = window.findChild<QWidget*>("carryOverBanner");
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(window.findChild<QLabel*>("carryOverText")->text().toStdString(),
              "前のカードに入れた 37 曲は飛ばして、残りを書き出します。新しい SD カード（または、ナビに取り込んで空にしたカード）を差してください。");

    QTest::mouseClick(window.findChild<QPushButton*>("carryOverReset"), Qt::LeftButton);
    EXPECT_FALSE(banner->isVisible());
    testing::ScopedXdg& xdg = f.xdg;
    EXPECT_EQ(xdg.settings()->stringList("carryOver"), std::vector<std::string>{});
    EXPECT_EQ(xdg.settings()->boolean("continuing"), false);
}

TEST(MainWindowTest, CleanNoticeComesGoesAndComesBack) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    window.show();
    auto* notice = window.findChild<QWidget*>("cleanNotice");
    EXPECT_FALSE(notice->isVisible());
    f.model->setCleanNotice("SD カードを掃除しました（3 件）");
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(window.findChild<QLabel*>("cleanNoticeText")->text(), "SD カードを掃除しました（3 件）");
    QTest::mouseClick(window.findChild<QToolButton*>("cleanNoticeClose"), Qt::LeftButton);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(f.model->cleanNotice(), std::nullopt);
    f.model->setCleanNotice("もう一度掃除しました");
    EXPECT_TRUE(notice->isVisible());
}

TEST(MainWindowTest, AutoSendRunsEachTimeTheWindowIsShown) {
    testing::ModelFixture f = onboardedModel([](Settings& s) { s.setBoolean("autoSend", true); });
    Opened opened;
    MainWindow window(*f.model, opened.action());
    EXPECT_EQ(opened.count, 0);
    window.show();
    EXPECT_EQ(opened.count, 1);
    EXPECT_FALSE(f.model->showSend());
    window.hide();
    window.show();
    EXPECT_EQ(opened.count, 2);
}

TEST(MainWindowTest, WelcomeSheetStaysUntilItsButtonIsPressed) {
    testing::ModelFixture f;
    MainWindow window(*f.model, {});
    EXPECT_EQ(window.welcomeSheet(), nullptr);  // not before the window is on screen
    window.show();
    QDialog* welcome = window.welcomeSheet();
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_EQ(welcome->windowModality(), Qt::WindowModal);
    welcome->reject();
    welcome->close();
    EXPECT_TRUE(welcome->isVisible());
    f.model->setOnboarded(true);
    EXPECT_FALSE(welcome->isVisible());
    // Shown again, the window asks nothing more.
    window.hide();
    window.show();
    ASSERT_TRUE(testing::waitUntil([&] { return window.welcomeSheet() == nullptr; }));
}

TEST(MainWindowTest, EditRequestOpensOneEditorAndItsCloseLetsGo) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    window.show();
    ASSERT_NE(f.model->selectedProfile(), nullptr);
    const DeviceProfile profile = *f.model->selectedProfile();
    emit window.findChild<StepCardCard*>()->editRequested(profile);
    QDialog* editor = window.editorSheet();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    window.editProfile(profile);
    EXPECT_EQ(window.editorSheet(), editor);
    editor->reject();
    EXPECT_EQ(window.editorSheet(), nullptr);
    ASSERT_NE(f.model->selectedProfile(), nullptr);
    EXPECT_EQ(*f.model->selectedProfile(), profile);
}

TEST(MainWindowTest, RefusedEjectIsShownOnceAndCleared) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    Dialogs::Script script;
    f.model->setEjectError("取り出せません: CARD（target is busy）");
    ASSERT_EQ(script.messages().size(), 1U);
    EXPECT_EQ(script.messages()[0].kind, Dialogs::Message::Kind::warning);
    EXPECT_EQ(script.messages()[0].text, "取り出せません: CARD（target is busy）");
    EXPECT_EQ(f.model->ejectError(), std::nullopt);
}

TEST(MainWindowTest, LogPanelAppearsOnTheFirstErrorLine) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    window.show();
    auto* panel = window.findChild<LogSection*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());
    f.model->appendLog(LogLine::Kind::info, "変換を始めます");
    f.model->flushPendingLog();
    EXPECT_FALSE(panel->isVisible());
    f.model->appendLog(LogLine::Kind::error, "変換できませんでした: b.flac");
    f.model->flushPendingLog();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(f.model->showLog());
}

TEST(MainWindowTest, ReviewSheetFollowsTheRunState) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    window.show();
    AppModelTesting::setState(*f.model, RunState::reviewing());
    QDialog* review = window.reviewSheet();
    ASSERT_NE(review, nullptr);
    EXPECT_TRUE(review->isVisible());
    EXPECT_EQ(review->windowModality(), Qt::WindowModal);
    review->close();  // the title bar
    EXPECT_TRUE(review->isVisible());
    f.model->resetRun();
    EXPECT_FALSE(review->isVisible());
    ASSERT_TRUE(testing::waitUntil([&] { return window.reviewSheet() == nullptr; }));
}

TEST(MainWindowTest, AliasSheetOpensOnTheFlagAndItsCloseLowersIt) {
    testing::ModelFixture f = onboardedModel();
    MainWindow window(*f.model, {});
    window.show();
    f.model->setShowAliases(true);
    QDialog* aliases = window.aliasesSheet();
    ASSERT_NE(aliases, nullptr);
    EXPECT_TRUE(aliases->isVisible());
    aliases->reject();
    EXPECT_FALSE(f.model->showAliases());
    ASSERT_TRUE(testing::waitUntil([&] { return window.aliasesSheet() == nullptr; }));
    f.model->setShowAliases(true);
    EXPECT_NE(window.aliasesSheet(), nullptr);
}

TEST(MainWindowTest, Screenshots) {
    testing::AppearanceScope scope;
    testing::TempDir music;
    for (const char* artist : {"Aino Trio", "Beta Band", "椎名バンド"}) fs::create_directories(music / artist / "Album");
    testing::ModelFixture f = onboardedModel([&](Settings& s) {
        s.setString("srcPath", music.path().string());
        s.setStringList("selected", {"Aino Trio"});
    });
    f.model->setCarryOver({"Aino Trio/Album/01.mp3", "Aino Trio/Album/02.mp3"});
    f.model->setContinuing(true);
    f.model->setCleanNotice("SD カードを掃除しました: 「._」ファイル 3 件を消しました。");
    for (const auto& [mode, name] : {std::pair{Appearance::Mode::light, "main-window-light"},
                                     std::pair{Appearance::Mode::dark, "main-window-dark"}}) {
        testing::switchAppearance(mode);
        MainWindow window(*f.model, {});
        window.resize(1100, 800);
        window.show();
        QApplication::processEvents();
        testing::saveScreenshot(window, name);
    }
}

}  // namespace
}  // namespace tarvik
