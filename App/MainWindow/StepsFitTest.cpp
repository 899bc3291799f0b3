#include <gtest/gtest.h>

#include "App/MainWindow/MainWindowTesting.hpp"

namespace tarvik {
namespace {

using testing::expectNothingClipped;

// At the main window's smallest size, in either appearance, every text of the
// first steps (towards a card and towards an artist's folder) and of each
// export state fits.
TEST(StepsFitTest, FirstStepsAndEveryExportStateFitTheSmallestWindow) {
    testing::FirstSteps first;
    testing::ReadyModel ready("書き出し先");
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [state, enter] : first.states()) {
            enter();
            expectNothingClipped(first.show()->root, state + " " + suffix);
        }
        AppModelTesting::clearLog(ready.model());
        const auto column = testing::exportColumn(ready.model());
        for (const auto& [name, enter] : testing::exportStates(ready.model())) {
            enter();
            column->fitHeight();
            expectNothingClipped(column->root, name + " " + suffix);
        }
    });
}

// The whole main window at the smallest size it allows, in either
// appearance and in each first-step state: nothing cut, and the column never
// scrolls sideways.
TEST(StepsFitTest, TheMainWindowAtItsSmallestSizeCutsNothing) {
    testing::FirstSteps first;
    testing::inLightAndDark([&](const std::string& suffix) {
        for (const auto& [state, enter] : first.states()) {
            enter();
            MainWindow window(*first.f.model, {});
            testing::showAtSmallestSize(window);
            expectNothingClipped(window, state + " " + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
