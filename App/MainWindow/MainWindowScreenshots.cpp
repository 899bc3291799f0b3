#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/FunBackground.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/MainWindowTesting.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

// Steps stacked as the detail column holds them, beside the sidebar when one
// is given, at the main window's smallest size.
struct Window {
    QWidget root;
    QScrollArea* scroll = new QScrollArea;

    Window(std::initializer_list<QWidget*> steps, QWidget* sidebar) {
        auto* columns = new QHBoxLayout(&root);
        columns->setContentsMargins(0, 0, 0, 0);
        columns->setSpacing(0);
        if (sidebar != nullptr) {
            sidebar->setFixedWidth(240);
            columns->addWidget(sidebar);
        }
        auto* detail = new QWidget;
        auto* stack = new QVBoxLayout(detail);
        stack->setContentsMargins(20, 20, 20, 20);
        stack->setSpacing(14);
        for (QWidget* step : steps) stack->addWidget(step);
        stack->addStretch();
        scroll->setWidget(detail);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        FunBackground::fill(scroll->viewport());
        columns->addWidget(scroll, 1);
        root.resize(sidebar != nullptr ? MainWindow::minimumWidth : MainWindow::minimumWidth - 240,
                    MainWindow::minimumHeight);
        root.show();
    }
};

// Every text fits its place: one-line texts are as wide as they need,
// wrapped ones as tall, and nothing is pushed sideways out of the column.
void expectNothingClipped(Window& window, const std::string& name) {
    EXPECT_FALSE(window.scroll->horizontalScrollBar()->isVisible()) << name;
    for (QLabel* label : window.root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window.root) || qobject_cast<ElidedLabel*>(label) != nullptr ||
            !label->pixmap().isNull())
            continue;
        const bool fits = label->wordWrap()
                              ? label->height() >= label->heightForWidth(label->width())
                              : label->width() >= label->sizeHint().width();
        EXPECT_TRUE(fits) << name << ": " << label->text().toStdString() << " " << label->width()
                          << "x" << label->height();
    }
    for (QAbstractButton* button : window.root.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&window.root)) continue;
        EXPECT_GE(button->width(), button->sizeHint().width())
            << name << ": " << button->text().toStdString();
    }
}

// The first steps with a card and its song estimate, then an artist folder as
// the destination with its warning; and the whole main window with its banners.
TEST(ScreenshotTest, MainWindowAndItsFirstStepsLightAndDark) {
    testing::TempDir library;
    for (const char* artist :
         {"青い月", "さくら楽団", "東京ナイトバンド", "山田ハナ", "Ｍｏｏｎ Ｒｉｖｅｒ"})
        std::filesystem::create_directories(library.path() / artist / "はじめてのアルバム");
    testing::ModelFixture f([&](Settings& settings) {
        settings.setBoolean("onboarded", true);
        settings.setString("srcPath", library.path().string());
        settings.setStringList("selected", {"さくら楽団", "青い月/はじめてのアルバム"});
    });
    f.model->reloadArtists();
    AppModelTesting::setVolumes(*f.model, {{"/", "システム", 120'000'000'000, false},
                                           {"/media/u/NAVI_SD", "NAVI_SD", 31'914'983'424, true}});
    f.model->setCarryOver(
        {"さくら楽団/はじめてのアルバム/01.mp3", "さくら楽団/はじめてのアルバム/02.mp3"});
    f.model->setContinuing(true);
    f.model->setCleanNotice("SD カードを掃除しました: 「._」ファイル 3 件を消しました。");
    const std::pair<std::string, std::string> destinations[] = {
        {"/media/u/NAVI_SD", "card"}, {(library.path() / "青い月").string(), "warning"}};
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [destination, state] : destinations) {
            f.model->setDestPath(destination);
            Window steps({new HeaderBanner(*f.model), new StepMusicCard(*f.model),
                          new StepCardCard(*f.model)},
                         new ArtistSidebar(*f.model));
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

ConversionEvent::Progress counts(std::int64_t done, std::int64_t failed, std::int64_t total,
                                 std::int64_t skipped = 0) {
    return {.done = done, .skipped = skipped, .failed = failed, .total = total, .etaSeconds = 150};
}

ConversionEvent::Summary ending(ConversionEvent::Progress progress, bool cardFull) {
    return {
        .progress = progress, .stopped = false, .cardFull = cardFull, .renamed = 0, .placed = {}};
}

// The export step and the log panel as the detail column holds them, at the
// main window's smallest width less the sidebar.
TEST(ExportScreenshotTest, ExportStepInEachStateLightAndDark) {
    testing::ReadyModel ready("書き出し先");
    AppModel& model = ready.model();
    const std::vector<std::pair<std::string, std::function<void()>>> states{
        {"idle",
         [&] {
             model.resetRun();
             model.setShowLog(false);
         }},
        {"planning",
         [&] {
             AppModelTesting::setState(model, RunState::planning());
             model.handleEvent(ConversionEvent::reading(850, 2000));
         }},
        {"running",
         [&] {
             AppModelTesting::setState(model, RunState::running());
             model.handleEvent(ConversionEvent::converting());
             model.handleEvent({counts(23, 1, 60)});
             model.appendLog(LogLine::Kind::converted,
                             "変換 青い月/はじめてのアルバム/01 夜明け.mp3");
             model.appendLog(LogLine::Kind::renamed, "曲名 青い月 / よあけ → 青い月 / 夜明け");
             model.appendLog(LogLine::Kind::error, "[失敗] 02 海.flac\n    ファイルが壊れています");
             model.appendLog(LogLine::Kind::notice, "SD カードがいっぱいになりました");
             model.setShowLog(true);
         }},
        {"full",
         [&] {
             AppModelTesting::setState(model, RunState::finished(ending(counts(42, 0, 60), true)));
         }},
        {"done",
         [&] {
             AppModelTesting::setState(model,
                                       RunState::finished(ending(counts(58, 2, 60, 3), false)));
         }},
    };
    testing::inLightAndDark([&](const std::string& suffix) {
        AppModelTesting::clearLog(model);
        Window column({new StepExportCard(model), new LogSection(model)}, nullptr);
        for (const auto& [name, enter] : states) {
            enter();
            QTest::qWait(400);  // the progress bar slides to its value
            column.root.resize(column.root.width(),
                               std::max(column.scroll->widget()->sizeHint().height(), 300));
            QApplication::processEvents();
            testing::saveScreenshot(column.root, "export-" + name + "-" + suffix);
            expectNothingClipped(column, name + " " + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
