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
        for (const auto& [destination, state] : first.destinations())
            expectNothingClipped(first.show(destination)->root, state + " " + suffix);
        AppModelTesting::clearLog(ready.model());
        const auto column = testing::exportColumn(ready.model());
        for (const auto& [name, enter] : testing::exportStates(ready.model())) {
            enter();
            column->fitHeight();
            expectNothingClipped(column->root, name + " " + suffix);
        }
    });
}

}  // namespace
}  // namespace tarvik
