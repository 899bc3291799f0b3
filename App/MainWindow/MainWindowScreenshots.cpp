// Pictures of the main window for a person to look at, in light and dark
// (build/screenshots/): the first steps, the export step in each state and the
// whole window. They check nothing; StepsFitTest checks the same states.
#include <gtest/gtest.h>

#include "App/MainWindow/MainWindowTesting.hpp"
#include "App/Testing/Screenshots.hpp"

namespace tarvik {
namespace {

TEST(MainWindowScreenshots, StepsExportStatesAndTheWholeWindow) {
    testing::FirstSteps first;
    testing::ReadyModel ready("書き出し先");
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [destination, state] : first.destinations())
            testing::saveScreenshot(first.show(destination)->root,
                                    "main-steps-" + state + "-" + suffix);
        MainWindow window(*first.f.model, {});
        window.resize(1100, 800);
        window.show();
        QApplication::processEvents();
        testing::saveScreenshot(window, "main-window-" + suffix);

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
