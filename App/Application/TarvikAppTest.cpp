#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "App/Application/ApplicationTesting.hpp"
#include "App/Application/SendWindow.hpp"
#include "App/Kit/Palette.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"

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

// Ctrl+Q (and a logout's signal, which calls the same) ends the event loop
// although a window refuses to close: here a send window with a copy under way.
TEST(TarvikAppTest, CtrlQEndsTheProgramWhateverAWindowRefuses) {
    AppFixture fx;
    const fs::path album = fx.f.xdg.data() / "out" / "Aoi" / "First";
    const fs::path card = fx.f.xdg.data() / "SD";
    testing::writeFile(album / "01.mp3", "x");
    fs::create_directories(card);
    fx.f.volumes->cards.insert(card);
    fx.f.volumes->add(testing::FixtureVolumes::card(card));
    fx.app->model().refreshVolumes();
    ASSERT_TRUE(testing::settle(fx.app->model()));
    auto gate = std::make_shared<testing::Gate>();
    std::unique_ptr<QWidget> send(SendWindow::create(fx.app->model(), testing::gatedTools(gate)));
    send->show();
    SendToSDState& state = send->findChild<SendToSDView*>()->state();
    ASSERT_TRUE(state.handleDrop({album}));
    ASSERT_TRUE(testing::waitUntil([&] { return state.sending(); }));
    fx.app->show();
    fx.activate();

    QEventLoop loop;
    QTimer::singleShot(0, [&] { fx.press("Ctrl+Q"); });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_TRUE(send->isVisible());  // never hidden mid-copy: the process ends around it
    gate->open();
    EXPECT_TRUE(testing::waitUntil([&] { return !state.sending(); }));
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

    Dialogs::Script script;
    QAction* licences =
        fx.action("helpMenu", "使っているソフトウェアのライセンス（FFmpeg / LAME）");
    licences->trigger();
    ASSERT_EQ(fx.revealed.size(), 1U);
    EXPECT_EQ(fx.revealed[0].filename(), "はじめにお読みください（ライセンス）.txt");
    EXPECT_TRUE(fs::is_regular_file(fx.revealed[0]));
    EXPECT_TRUE(script.messages().empty());

    // A desktop that opens no folder: the message names the folder, never silence.
    fx.desktopOpensFolders = false;
    licences->trigger();
    ASSERT_EQ(script.messages().size(), 1U);
    EXPECT_EQ(script.messages()[0].text, "ライセンスのフォルダを開けませんでした");
    EXPECT_EQ(script.messages()[0].informative,
              "ファイルマネージャで開いてください:\n" + fx.revealed[0].parent_path().string());
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
