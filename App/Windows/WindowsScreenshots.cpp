// Pictures of the sheets for a person to look at, in light and dark
// (build/screenshots/). They check nothing; each sheet's tests check it.
#include <gtest/gtest.h>

#include <QtTest>

#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/OnboardingView.hpp"

namespace tarvik {
namespace {

TEST(WindowsScreenshots, Welcome) {
    testing::ModelFixture fixture;
    OnboardingView sheet(*fixture.model);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    testing::inLightAndDark(
        [&](const std::string& suffix) { testing::saveScreenshot(sheet, "welcome-" + suffix); });
}

}  // namespace
}  // namespace tarvik
