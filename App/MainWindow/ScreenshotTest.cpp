#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/ElidedLabel.hpp"
#include "App/MainWindow/FunBackground.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

// The sidebar and the first steps as the main window holds them, at its
// smallest size.
struct Window {
    QWidget root;
    QScrollArea* scroll = new QScrollArea;

    explicit Window(AppModel& model) {
        auto* columns = new QHBoxLayout(&root);
        columns->setContentsMargins(0, 0, 0, 0);
        columns->setSpacing(0);
        auto* sidebar = new ArtistSidebar(model);
        sidebar->setFixedWidth(240);
        auto* detail = new QWidget;
        auto* stack = new QVBoxLayout(detail);
        stack->setContentsMargins(20, 20, 20, 20);
        stack->setSpacing(14);
        stack->addWidget(new HeaderBanner(model));
        stack->addWidget(new StepMusicCard(model));
        stack->addWidget(new StepCardCard(model));
        stack->addStretch();
        scroll->setWidget(detail);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        FunBackground::fill(scroll->viewport());
        columns->addWidget(sidebar);
        columns->addWidget(scroll, 1);
        root.resize(800, 620);
        root.show();
    }
};

// Every text fits its place: one-line texts are as wide as they need,
// wrapped ones as tall, and nothing is pushed sideways out of the column.
void expectNothingClipped(Window& window, const std::string& name) {
    EXPECT_FALSE(window.scroll->horizontalScrollBar()->isVisible()) << name;
    for (QLabel* label : window.root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window.root) || qobject_cast<ElidedLabel*>(label) != nullptr || !label->pixmap().isNull())
            continue;
        const bool fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                            : label->width() >= label->sizeHint().width();
        EXPECT_TRUE(fits) << name << ": " << label->text().toStdString() << " " << label->width() << "x" << label->height();
    }
    for (QAbstractButton* button : window.root.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&window.root)) continue;
        EXPECT_GE(button->width(), button->sizeHint().width()) << name << ": " << button->text().toStdString();
    }
}

// The first steps with a card and its song estimate, then an artist folder as
// the destination with its warning; and the whole main window with its banners.
TEST(ScreenshotTest, MainWindowAndItsFirstStepsLightAndDark) {
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
            Window steps(*f.model);
            QApplication::processEvents();
            testing::saveScreenshot(steps.root, "main-steps-" + state + "-" + suffix);
            expectNothingClipped(steps, state + " " + suffix);
        }
        MainWindow window(*f.model, {});
        window.resize(1100, 800);
        window.show();
        QApplication::processEvents();
        testing::saveScreenshot(window, "main-window-" + suffix);
    });
}

}  // namespace
}  // namespace tarvik
