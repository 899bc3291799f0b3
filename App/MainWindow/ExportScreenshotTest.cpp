#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>

#include "App/MainWindow/ArtistAliasesView.hpp"
#include "App/MainWindow/FunBackground.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Platform/AppPaths.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

const std::vector<std::pair<Appearance::Mode, std::string>> appearances{{Appearance::Mode::light, "light"},
                                                                         {Appearance::Mode::dark, "dark"}};

// The export step and the log panel as the detail column holds them, at the
// main window's smallest width less the sidebar.
struct Column {
    QWidget root;

    explicit Column(AppModel& model) {
        auto* stack = new QVBoxLayout(&root);
        stack->setContentsMargins(20, 20, 20, 20);
        stack->setSpacing(14);
        stack->addWidget(new StepExportCard(model));
        stack->addWidget(new LogSection(model));
        stack->addStretch();
        FunBackground::fill(&root);
        root.resize(560, 620);
        root.show();
        QApplication::processEvents();
    }
};

ConversionEvent::Progress counts(std::int64_t done, std::int64_t failed, std::int64_t total) {
    ConversionEvent::Progress p;
    p.done = done;
    p.failed = failed;
    p.total = total;
    p.etaSeconds = 150;
    return p;
}

TEST(ExportScreenshotTest, ExportStepInEachStateLightAndDark) {
    testing::AppearanceScope scope;
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / "music" / "青い月");
    std::filesystem::create_directories(dir.path() / "書き出し先");
    testing::ModelFixture f([&](Settings& settings) {
        settings.setString("srcPath", (dir.path() / "music").string());
        settings.setStringList("selected", {"青い月"});
        settings.setString("destPath", (dir.path() / "書き出し先").string());
    });
    AppModel& model = *f.model;
    const auto fill = [&] {
        model.appendLog(LogLine::Kind::converted, "変換 青い月/はじめてのアルバム/01 夜明け.mp3");
        model.appendLog(LogLine::Kind::renamed, "曲名 青い月 / よあけ → 青い月 / 夜明け");
        model.appendLog(LogLine::Kind::error, "[失敗] 02 海.flac\n    ファイルが壊れています");
        model.appendLog(LogLine::Kind::notice, "SD カードがいっぱいになりました");
    };
    ConversionEvent::Summary full;
    full.progress = counts(42, 0, 60);
    full.cardFull = true;
    ConversionEvent::Summary done;
    done.progress = counts(58, 2, 60);
    done.progress.skipped = 3;

    const std::vector<std::pair<std::string, std::function<void()>>> states{
        {"idle", [&] { model.resetRun(); }},
        {"planning",
         [&] {
             AppModelTesting::setState(model, RunState::planning());
             model.handleEvent(ConversionEvent::reading(12, 60));
         }},
        {"running",
         [&] {
             AppModelTesting::setState(model, RunState::running());
             model.handleEvent(ConversionEvent::converting());
             model.handleEvent({counts(23, 1, 60)});
             fill();
             model.setShowLog(true);
         }},
        {"full", [&] { AppModelTesting::setState(model, RunState::finished(full)); }},
        {"done", [&] { AppModelTesting::setState(model, RunState::finished(done)); }},
        {"failed",
         [&] {
             model.setShowLog(false);
             AppModelTesting::setState(model, RunState::failed("カーナビの機種を選んでください。"));
         }},
    };
    for (const auto& [mode, suffix] : appearances) {
        testing::switchAppearance(mode);
        AppModelTesting::clearLog(model);
        Column column(model);
        for (const auto& [name, enter] : states) {
            enter();
            QTest::qWait(400);  // the progress bar slides to its value
            column.root.adjustSize();
            column.root.resize(560, std::max(column.root.height(), 300));
            testing::saveScreenshot(column.root, "export-" + name + "-" + suffix);
        }
    }
}

TEST(ExportScreenshotTest, AliasSheetLightAndDark) {
    testing::AppearanceScope scope;
    testing::TempDir library;
    for (const char* artist : {"Kurune Tobari", "kurune tobari", "KuruneTobari", "青い月", "Sakura Band", "sakura band"})
        std::filesystem::create_directories(library.path() / artist);
    testing::ModelFixture f([&](Settings& settings) { settings.setString("srcPath", library.path().string()); });
    f.model->reloadArtists();
    ArtistAliases stored;
    stored.entries.emplace_back("Aoi Tsuki", "青い月");
    stored.save(AppPaths::aliasesFile());
    for (const auto& [mode, suffix] : appearances) {
        testing::switchAppearance(mode);
        ArtistAliasesView view(*f.model);
        view.show();
        QApplication::processEvents();
        testing::saveScreenshot(view, "aliases-" + suffix);
    }
}

}  // namespace
}  // namespace tarvik
