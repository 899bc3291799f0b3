#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>

#include "App/Application/ApplicationTesting.hpp"
#include "App/Application/SendWindow.hpp"
#include "App/Kit/Palette.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainWindow.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

using testing::AppFixture;

TEST(TarvikAppTest, CtrlLTogglesTheLogAndCtrlERaisesOneSendWindow) {
    AppFixture fx;
    fx.app->show();
    fx.activate();
    QWidget* logPanel = fx.app->mainWindow().findChild<LogSection*>();
    for (bool shown : {true, false}) {
        fx.press("Ctrl+L");
        EXPECT_EQ(fx.app->model().showLog(), shown);
        EXPECT_EQ(logPanel->isVisible(), shown);
    }
    EXPECT_EQ(fx.app->sendWindow(), nullptr);
    fx.press("Ctrl+E");
    QWidget* send = fx.app->sendWindow();
    ASSERT_NE(send, nullptr);
    EXPECT_TRUE(send->isVisible());
    EXPECT_FALSE(fx.app->model().showSend());
    send->hide();
    fx.activate();
    fx.press("Ctrl+E");
    EXPECT_EQ(fx.app->sendWindow(), send);
    EXPECT_TRUE(send->isVisible());
}

TEST(TarvikAppTest, CheckItemsFollowTheirSettingsAndTheLicenceItemRevealsTheFile) {
    AppFixture fx;
    QAction* autoClean = fx.action("libraryMenu", "SD カードを差したら自動で掃除する");
    QAction* lowLoad = fx.action("viewMenu", "表示を軽くする（画面が乱れるパソコン向け）");
    autoClean->trigger();
    lowLoad->trigger();
    EXPECT_EQ(fx.f.xdg.settings()->boolean("autoCleanSD"), true);
    EXPECT_EQ(fx.f.xdg.settings()->boolean("lowLoadManual"), true);
    EXPECT_NE(std::string(TarvikApp::credits).find("曲やこのパソコンの情報をどこかへ"),
              std::string::npos);
    fx.app->model().setLowLoadManual(false);
    EXPECT_FALSE(lowLoad->isChecked());

    fx.action("helpMenu", "使っているソフトウェアのライセンス（FFmpeg / LAME）")->trigger();
    ASSERT_EQ(fx.revealed.size(), 1U);
    EXPECT_EQ(fx.revealed[0].filename(), "はじめにお読みください（ライセンス）.txt");
    EXPECT_TRUE(fs::is_regular_file(fx.revealed[0]));
}

// Qt's own folder chooser speaks Japanese beside the program's texts.
TEST(TarvikAppTest, QtsOwnDialogsSpeakJapanese) {
    AppFixture fx;
    const std::unique_ptr<QFileDialog> chooser = fx.folderChooser();
    QDialogButtonBox* buttons = chooser->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "キャンセル");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "アドレス:");
}

TEST(TarvikAppTest, AppearanceIsAppliedBeforeTheWindow) {
    for (const auto& [setting, dark] :
         {std::pair{"dark", true}, {"light", false}, {"Dark", false}, {"", false}}) {
        AppFixture fx([&](Settings& settings) { settings.setString("appearance", setting); });
        EXPECT_EQ(Palette::isDark(fx.app->mainWindow().palette()), dark) << setting;
    }
}

}  // namespace
}  // namespace tarvik
