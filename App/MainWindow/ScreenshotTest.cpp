#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "App/MainWindow/ElidedLabel.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

// Every text fits its place: one-line texts are as wide as they need,
// wrapped ones as tall, and nothing is pushed sideways out of the column.
void expectNothingClipped(MainWindow& window, const std::string& name) {
    EXPECT_FALSE(testing::child<QScrollArea>(window, "detailScroll")->horizontalScrollBar()->isVisible()) << name;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || qobject_cast<ElidedLabel*>(label) != nullptr || !label->pixmap().isNull())
            continue;
        const bool fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                            : label->width() >= label->sizeHint().width();
        EXPECT_TRUE(fits) << name << ": " << label->text().toStdString() << " " << label->width() << "x" << label->height();
    }
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>())
        if (button->isVisibleTo(&window))
            EXPECT_GE(button->width(), button->sizeHint().width()) << name << ": " << button->text().toStdString();
}

// The main window at its smallest size with its banners, a card with its song
// estimate, then an artist folder as the destination with its warning.
TEST(ScreenshotTest, MainWindowAtItsSmallestSizeLightAndDark) {
    testing::TempDir library;
    for (const char* artist : {"青い月", "さくら楽団", "東京ナイトバンド", "山田ハナ", "Ｍｏｏｎ Ｒｉｖｅｒ"})
        std::filesystem::create_directories(library.path() / artist / "はじめてのアルバム");
    testing::ModelFixture f([&](Settings& settings) {
        settings.setBoolean("onboarded", true);
        settings.setString("srcPath", library.path().string());
        settings.setStringList("selected", {"さくら楽団", "青い月/はじめてのアルバム"});
    });
    f.model->reloadArtists();
    AppModelTesting::setVolumes(*f.model, {{"/", "システム", 120'000'000'000, false},
                                           {"/media/u/NAVI_SD", "NAVI_SD", 31'914'983'424, true}});
    f.model->setCarryOver({"さくら楽団/はじめてのアルバム/01.mp3", "さくら楽団/はじめてのアルバム/02.mp3"});
    f.model->setContinuing(true);
    f.model->setCleanNotice("SD カードを掃除しました: 「._」ファイル 3 件を消しました。");
    const std::pair<std::string, std::string> destinations[] = {{"/media/u/NAVI_SD", "card"},
                                                                {(library.path() / "青い月").string(), "warning"}};
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [destination, state] : destinations) {
            f.model->setDestPath(destination);
            MainWindow window(*f.model, {});
            window.resize(MainWindow::minimumWidth, MainWindow::minimumHeight);
            window.show();
            QApplication::processEvents();
            testing::saveScreenshot(window, "main-window-" + state + "-" + suffix);
            expectNothingClipped(window, state + " " + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
