#include <gtest/gtest.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "App/Application/ApplicationTesting.hpp"
#include "App/Application/SendWindow.hpp"
#include "App/Kit/Palette.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Platform/DetachedTask.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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
    fx.f.volumes->listAsCard(card);
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

// The menu's cleaning runs beside the window, a sheet counting how far it
// got: a card that stops answering in the middle (its daemon stopped) holds
// the cleaning, not the window. Ctrl+Q meanwhile ends the program's loop at
// once, with no "掃除しました", and the cleaning stops between two files.
TEST(TarvikAppTest, TheMenusCleaningHoldsNoWindowAndCtrlQStopsItBetweenTwoFiles) {
    std::string whyNot;
    const auto card = testing::CardImage::make(16 << 20, whyNot, "CARD");
    if (!card) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    constexpr int companions = 2000;
    for (int n = 0; n < companions; ++n)
        testing::writeFile(card->root() / "Ar" / ("._" + std::to_string(n) + ".mp3"), "x");
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(card->root());
    ASSERT_TRUE(daemon);
    AppFixture fx;
    fx.app->show();
    fx.activate();
    Dialogs::Script script;
    script.answerFolder(card->root());
    std::optional<testing::StoppedDaemon> stopped;
    std::optional<testing::LoopGaps> gaps;
    std::string counted;
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* sheet = QApplication::activeModalWidget();
        if (sheet == nullptr || sheet->objectName() != "cleaningSheet") return;
        if (!stopped) {
            const std::string count = testing::labelText(*sheet, "cleaningCount");
            if (count.find(" / ") == std::string::npos) return;
            counted = count;
            stopped.emplace(*daemon, 10s);
            gaps.emplace();
            QTimer::singleShot(500, sheet,
                               [sheet] { QTest::keySequence(sheet, QKeySequence("Ctrl+Q")); });
        }
    });
    watch.start();
    QTimer::singleShot(
        0, [&] { fx.action("libraryMenu", "SD カードを掃除して名前を整える…")->trigger(); });
    QTimer::singleShot(8000, &loop, [&] { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
    watch.stop();
    ASSERT_TRUE(stopped) << "no sheet counted the cleaning";
    EXPECT_TRUE(script.messages().empty()) << script.messages().front().text;
    EXPECT_LE(gaps->longest(), 2s);
    std::fprintf(stderr, "[ measured ] the event loop's longest pause, its card held: %lld ms\n",
                 static_cast<long long>(gaps->longest().count()));

    // The card answers again: the cleaning ends with the file it was on, and
    // leaves the rest.
    stopped.reset();
    fx.app.reset();
    EXPECT_TRUE(testing::waitUntil([] { return DetachedTask::running() == 0; }, 20s));
    int left = 0;
    for (const auto& entry : fs::directory_iterator(card->root() / "Ar"))
        left += entry.path().filename().string().starts_with("._") ? 1 : 0;
    EXPECT_GT(left, 0);
    EXPECT_LT(left, companions);
}

// A quit during a send waits for the file being copied to be whole or
// removed, and no longer: a large file onto a card through FUSE is cut short
// and its temporary file removed, so that nothing half-written stays hidden
// on the card. The end of main() waits for its workers as here.
TEST(TarvikAppTest, AQuitDuringASendLeavesNoHalfFileOnTheCard) {
    std::string whyNot;
    const auto card = testing::CardImage::make(std::uint64_t{1400} << 20, whyNot, "CARD");
    if (!card) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    AppFixture fx;
    const fs::path album = fx.f.xdg.data() / "out" / "Aoi" / "First";
    fs::create_directories(album);
    {
        // A gigabyte of silence: seconds to copy onto the card.
        std::ofstream song(album / "01.mp3", std::ios::binary);
        song.seekp((std::int64_t{1} << 30) - 1);
        song.put('\0');
    }
    fx.f.volumes->listAsCard(card->root());
    fx.f.volumes->add(testing::FixtureVolumes::card(card->root(), std::int64_t{1} << 40));
    fx.app->model().refreshVolumes();
    ASSERT_TRUE(testing::settle(fx.app->model()));
    fx.app->openSend();
    SendToSDState& state = fx.app->sendWindow()->findChild<SendToSDView*>()->state();
    ASSERT_TRUE(state.handleDrop({album}));
    const fs::path folder = card->root() / "Aoi" / "First";
    const auto halfWritten = [&] {
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error))
            if (entry->path().filename().string().ends_with(".part")) return true;
        return false;
    };
    ASSERT_TRUE(testing::waitUntil(halfWritten, 30s)) << "the copy never began";

    QEventLoop loop;
    QTimer::singleShot(0, [&] { fx.app->quit(); });
    EXPECT_EQ(loop.exec(), 0);
    DetachedTask::endingBy(std::chrono::steady_clock::now() + 800ms);
    QElapsedTimer clock;
    clock.start();
    fx.app.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    DetachedTask::endingBy(std::chrono::steady_clock::time_point::max());
    EXPECT_FALSE(halfWritten());
    EXPECT_FALSE(fs::exists(folder / "01.mp3"));
    EXPECT_TRUE(testing::waitUntil([] { return DetachedTask::running() == 0; }, 60s));
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
