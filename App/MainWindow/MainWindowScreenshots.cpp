// Pictures of the main window for a person to look at, in light and dark
// (build/screenshots/): the first steps (among them a read-only destination,
// a music folder gone and names that are not UTF-8), the export step in each
// state and the whole window, at a roomy size and at its smallest, with its
// sidebar alone at that size (a name too long for it). They check
// nothing; StepsFitTest checks the same states.
#include <gtest/gtest.h>

#include "App/MainWindow/MainWindowTesting.hpp"
#include "App/Testing/Screenshots.hpp"

namespace tarvik {
namespace {

TEST(MainWindowScreenshots, StepsExportStatesAndTheWholeWindow) {
    testing::FirstSteps first;
    testing::ReadyModel ready("書き出し先");
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [state, enter] : first.states()) {
            enter();
            testing::saveScreenshot(first.show()->root, "main-steps-" + state + "-" + suffix);
        }
        MainWindow window(*first.f.model, {});
        window.resize(1100, 800);
        window.show();
        QApplication::processEvents();
        testing::saveScreenshot(window, "main-window-" + suffix);
        MainWindow smallest(*first.f.model, {});
        testing::showAtSmallestSize(smallest);
        testing::saveScreenshot(smallest, "main-window-smallest-" + suffix);
        testing::saveScreenshot(*smallest.findChild<QWidget*>("artistSidebar"),
                                "sidebar-smallest-" + suffix);

        AppModelTesting::clearLog(ready.model());
        const auto column = testing::exportColumn(ready.model());
        for (const auto& [name, enter] : testing::exportStates(ready.model())) {
            enter();
            column->fitHeight();
            testing::saveScreenshot(column->root, "export-" + name + "-" + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
