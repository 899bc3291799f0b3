#include <gtest/gtest.h>

#include <QTest>
#include <QVBoxLayout>

#include "App/MainWindow/FunBackground.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

ConversionEvent::Progress counts(std::int64_t done, std::int64_t failed, std::int64_t total, std::int64_t skipped = 0) {
    return {.done = done, .skipped = skipped, .failed = failed, .total = total, .etaSeconds = 150};
}

ConversionEvent::Summary ending(ConversionEvent::Progress progress, bool cardFull) {
    return {.progress = progress, .stopped = false, .cardFull = cardFull, .renamed = 0, .placed = {}};
}

// The export step and the log panel as the detail column holds them, at the
// main window's smallest width less the sidebar.
TEST(ExportScreenshotTest, ExportStepInEachStateLightAndDark) {
    testing::ReadyModel ready("書き出し先");
    AppModel& model = ready.model();
    const std::vector<std::pair<std::string, std::function<void()>>> states{
        {"idle", [&] { model.resetRun(); model.setShowLog(false); }},
        {"running",
         [&] {
             AppModelTesting::setState(model, RunState::running());
             model.handleEvent(ConversionEvent::converting());
             model.handleEvent({counts(23, 1, 60)});
             model.appendLog(LogLine::Kind::converted, "変換 青い月/はじめてのアルバム/01 夜明け.mp3");
             model.appendLog(LogLine::Kind::renamed, "曲名 青い月 / よあけ → 青い月 / 夜明け");
             model.appendLog(LogLine::Kind::error, "[失敗] 02 海.flac\n    ファイルが壊れています");
             model.appendLog(LogLine::Kind::notice, "SD カードがいっぱいになりました");
             model.setShowLog(true);
         }},
        {"full", [&] { AppModelTesting::setState(model, RunState::finished(ending(counts(42, 0, 60), true))); }},
        {"done", [&] { AppModelTesting::setState(model, RunState::finished(ending(counts(58, 2, 60, 3), false))); }},
    };
    testing::inLightAndDark([&](const std::string& suffix) {
        AppModelTesting::clearLog(model);
        QWidget column;
        auto* stack = new QVBoxLayout(&column);
        stack->setContentsMargins(20, 20, 20, 20);
        stack->setSpacing(14);
        stack->addWidget(new StepExportCard(model));
        stack->addWidget(new LogSection(model));
        stack->addStretch();
        FunBackground::fill(&column);
        column.resize(560, 620);
        column.show();
        for (const auto& [name, enter] : states) {
            enter();
            QTest::qWait(400);  // the progress bar slides to its value
            column.adjustSize();
            column.resize(560, std::max(column.height(), 300));
            testing::saveScreenshot(column, "export-" + name + "-" + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
