#include "App/Windows/OnboardingView.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QtTest>

#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

struct OpenWelcome {
    testing::ModelFixture fixture;
    std::unique_ptr<OnboardingView> sheet;

    OpenWelcome() {
        sheet = std::make_unique<OnboardingView>(*fixture.model);
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }
    AppModel& model() { return *fixture.model; }
    // What a later start of the program reads from the settings file.
    bool neededAtNextStart() { return !fixture.xdg.settings()->boolean("onboarded").value_or(false); }
};

TEST(OnboardingViewTest, NeitherEscapeNorTheTitleBarDismissesIt) {
    OpenWelcome w;
    EXPECT_TRUE(OnboardingView::isNeeded(w.model()));
    QTest::keyClick(w.sheet.get(), Qt::Key_Escape);
    EXPECT_TRUE(w.sheet->isVisible());
    EXPECT_FALSE(w.sheet->close());
    EXPECT_TRUE(w.sheet->isVisible());
    EXPECT_FALSE(w.model().onboarded());
    EXPECT_TRUE(w.neededAtNextStart());
}

TEST(OnboardingViewTest, ReturnOrTheButtonEndsItForGood) {
    for (bool keyboard : {true, false}) {
        OpenWelcome w;
        if (keyboard) {
            QTest::keyClick(w.sheet.get(), Qt::Key_Return);
        } else {
            QTest::mouseClick(w.sheet->findChild<QPushButton*>("welcomeStartButton"), Qt::LeftButton);
        }
        EXPECT_TRUE(w.model().onboarded());
        EXPECT_FALSE(w.sheet->isVisible());
        EXPECT_FALSE(w.neededAtNextStart());
    }
}

TEST(OnboardingViewTest, Screenshots) {
    testing::AppearanceScope scope;
    OpenWelcome w;
    for (auto [mode, suffix] : {std::pair{Appearance::Mode::light, "light"}, {Appearance::Mode::dark, "dark"}}) {
        testing::switchAppearance(mode);
        QTest::qWait(50);
        testing::saveScreenshot(*w.sheet, std::string("welcome-") + suffix);
    }
}

}  // namespace
}  // namespace tarvik
