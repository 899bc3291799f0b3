#include <gtest/gtest.h>

#include <QDialog>

#include "App/Kit/Dialogs.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainContent.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

// A model past the welcome sheet, unless a test asks for a first start.
testing::ModelFixture onboardedModel(const std::function<void(Settings&)>& more = {}) {
    return testing::ModelFixture([&](Settings& settings) {
        settings.setBoolean("onboarded", true);
        if (more) more(settings);
    });
}

// The main window on screen over an onboarded model.
struct Shown {
    testing::ModelFixture f = onboardedModel();
    MainWindow window{*f.model, {}};
    Shown() { window.show(); }
    AppModel& model() { return *f.model; }
};

TEST(MainContentTest, CarryOverBannerNeedsBothTheFlagAndSongs) {
    const struct {
        bool continuing;
        std::set<std::string> carryOver;
        bool shown;
    } cases[] = {{false, {}, false},
                 {true, {}, false},
                 {false, {"a/1.mp3"}, false},
                 {true, {"a/1.mp3"}, true}};
    for (const auto& c : cases) {
        testing::ModelFixture f;
        f.model->setCarryOver(c.carryOver);
        f.model->setContinuing(c.continuing);
        EXPECT_EQ(MainContent::showsCarryOver(*f.model), c.shown)
            << c.continuing << " " << c.carryOver.size();
    }
}

// The carry-over banner names the songs and its button forgets them; the
// clean notice comes, goes and comes back; a refused eject is said once; the
// log panel comes with the first error line.
TEST(MainWindowTest, BannersAndNoticesComeAndGo) {
    Shown s;
    std::set<std::string> songs;
    for (int i = 0; i < 37; ++i) songs.insert("A/Album/" + std::to_string(i) + ".mp3");
    s.model().setCarryOver(songs);
    s.model().setContinuing(true);
    EXPECT_TRUE(testing::shown(s.window, "carryOverBanner"));
    EXPECT_EQ(testing::labelText(s.window, "carryOverText"),
              "前のカードに入れた 37 曲は飛ばして、残りを書き出します。新しい SD "
              "カード（または、ナビに取り込んで空にしたカード）を差してください。");
    testing::click(s.window, "carryOverReset");
    EXPECT_FALSE(testing::shown(s.window, "carryOverBanner"));
    EXPECT_EQ(s.f.xdg.settings()->stringList("carryOver"), std::vector<std::string>{});
    EXPECT_EQ(s.f.xdg.settings()->boolean("continuing"), false);

    s.model().setCleanNotice("SD カードを掃除しました（3 件）");
    EXPECT_TRUE(testing::shown(s.window, "cleanNotice"));
    EXPECT_EQ(testing::labelText(s.window, "cleanNoticeText"), "SD カードを掃除しました（3 件）");
    testing::click(s.window, "cleanNoticeClose");
    EXPECT_FALSE(testing::shown(s.window, "cleanNotice"));
    EXPECT_EQ(s.model().cleanNotice(), std::nullopt);
    s.model().setCleanNotice("もう一度掃除しました");
    EXPECT_TRUE(testing::shown(s.window, "cleanNotice"));

    Dialogs::Script script;
    s.model().setEjectError("取り出せません: CARD（target is busy）");
    EXPECT_EQ(script.messages(),
              (std::vector<Dialogs::Message>{{Dialogs::Message::Kind::warning,
                                              "取り出せません: CARD（target is busy）", ""}}));
    EXPECT_EQ(s.model().ejectError(), std::nullopt);

    auto* panel =
        s.window.findChild<LogSection*>();  // the log panel comes with the first error line
    ASSERT_NE(panel, nullptr);
    for (const auto& [kind, shown] :
         {std::pair{LogLine::Kind::info, false}, {LogLine::Kind::error, true}}) {
        s.model().appendLog(kind, "変換できませんでした: b.flac");
        s.model().flushPendingLog();
        EXPECT_EQ(panel->isVisible(), shown);
    }
    EXPECT_FALSE(s.model().showLog());
}

TEST(MainWindowTest, AutoSendRunsEachTimeTheWindowIsShown) {
    testing::ModelFixture f = onboardedModel([](Settings& s) { s.setBoolean("autoSend", true); });
    int opened = 0;
    MainWindow window(*f.model, [&] { ++opened; });
    EXPECT_EQ(opened, 0);
    window.show();
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(f.model->showSend());
    window.hide();
    window.show();
    EXPECT_EQ(opened, 2);
}

TEST(MainWindowTest, WelcomeSheetStaysUntilItsButtonIsPressed) {
    testing::ModelFixture f;
    MainWindow window(*f.model, {});
    EXPECT_EQ(window.welcomeSheet(), nullptr);  // not before the window is on screen
    window.show();
    QDialog* welcome = window.welcomeSheet();
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(welcome->isVisible());  // Escape and the title bar: OnboardingViewTest
    f.model->setOnboarded(true);
    EXPECT_FALSE(welcome->isVisible());
    // Shown again, the window asks nothing more.
    window.hide();
    window.show();
    ASSERT_TRUE(testing::waitUntil([&] { return window.welcomeSheet() == nullptr; }));
}

TEST(MainWindowTest, EditorAndAliasSheetsOpenOnceAndTheirCloseLetsGo) {
    Shown s;
    ASSERT_NE(s.model().selectedProfile(), nullptr);
    const DeviceProfile profile = *s.model().selectedProfile();
    emit s.window.findChild<StepCardCard*>()->editRequested(profile);
    QDialog* editor = s.window.editorSheet();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    s.window.editProfile(profile);
    EXPECT_EQ(s.window.editorSheet(), editor);
    editor->reject();
    EXPECT_EQ(s.window.editorSheet(), nullptr);
    ASSERT_NE(s.model().selectedProfile(), nullptr);
    EXPECT_EQ(*s.model().selectedProfile(), profile);

    s.model().setShowAliases(true);
    QDialog* aliases = s.window.aliasesSheet();
    ASSERT_NE(aliases, nullptr);
    EXPECT_TRUE(aliases->isVisible());
    aliases->reject();
    EXPECT_FALSE(s.model().showAliases());
    ASSERT_TRUE(testing::waitUntil([&] { return s.window.aliasesSheet() == nullptr; }));
    s.model().setShowAliases(true);
    EXPECT_NE(s.window.aliasesSheet(), nullptr);
}

// Back at the front, the window checks its destination again.
TEST(MainWindowTest, ComingToTheFrontChecksTheDestinationAgain) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "music" / "A");
    std::filesystem::create_directories(dir / "out");
    testing::ModelFixture f = onboardedModel([&](Settings& settings) {
        settings.setString("srcPath", (dir / "music").string());
        settings.setStringList("selected", {"A"});
        settings.setString("destPath", (dir / "out").string());
    });
    MainWindow window{*f.model, {}};
    window.show();
    QWidget* start = testing::child(window, "startButton");
    ASSERT_TRUE(start != nullptr && start->isEnabled());
    std::filesystem::remove(dir / "out");
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&window, &activate);
    EXPECT_TRUE(testing::waitUntil([&] { return !start->isEnabled(); }));
}

// Scrolling the window with the wheel over its closed pickers changes no
// card, no unit and no loudness.
TEST(MainWindowTest, TheWheelChangesNoPicker) {
    Shown s;
    for (const char* card : {"/media/u/A", "/media/u/B", "/media/u/C"})
        s.f.volumes->add(testing::FixtureVolumes::card(card, 1'000'000'000));
    s.model().refreshVolumes();
    s.model().setDestPath("/media/u/B");
    s.f.settled();
    ASSERT_GT(s.model().profiles().size(), 2U);
    s.model().setProfileId(s.model().profiles()[1].id);
    const std::string profileId = s.model().profileId();
    testing::expectWheelLeavesPickers(s.window);
    EXPECT_EQ(s.model().destPath(), "/media/u/B");
    EXPECT_EQ(s.model().profileId(), profileId);
    EXPECT_EQ(s.model().loudness(), -14.0);
}

// The title bar's refusal is ReviewViewTest's.
TEST(MainWindowTest, ReviewSheetFollowsTheRunState) {
    Shown s;
    AppModelTesting::setState(s.model(), RunState::reviewing());
    QDialog* review = s.window.reviewSheet();
    ASSERT_NE(review, nullptr);
    EXPECT_TRUE(review->isVisible());
    s.model().resetRun();
    EXPECT_FALSE(review->isVisible());
    ASSERT_TRUE(testing::waitUntil([&] { return s.window.reviewSheet() == nullptr; }));
}

}  // namespace
}  // namespace tarvik
