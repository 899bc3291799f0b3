#include <gtest/gtest.h>

#include <QtTest>

#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/OnboardingView.hpp"

namespace tarvik {
namespace {

struct OpenWelcome {
    testing::ModelFixture fixture;
    OnboardingView sheet{*fixture.model};

    OpenWelcome() {
        sheet.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    }
};

// Neither Escape nor the title bar dismisses the welcome; Return or its button
// end it for good, as a later start reads from the settings file.
TEST(OnboardingViewTest, OnlyReturnOrTheButtonEndItForGood) {
    const struct {
        const char* what;
        std::function<void(OnboardingView&)> act;
        bool ends;
    } cases[] = {
        {"escape", [](OnboardingView& v) { QTest::keyClick(&v, Qt::Key_Escape); }, false},
        {"title bar", [](OnboardingView& v) { EXPECT_FALSE(v.close()); }, false},
        {"return", [](OnboardingView& v) { QTest::keyClick(&v, Qt::Key_Return); }, true},
        {"button", [](OnboardingView& v) { testing::click(v, "welcomeStartButton"); }, true},
    };
    for (const auto& c : cases) {
        OpenWelcome w;
        EXPECT_TRUE(OnboardingView::isNeeded(*w.fixture.model));
        c.act(w.sheet);
        EXPECT_EQ(w.sheet.isVisible(), !c.ends) << c.what;
        EXPECT_EQ(w.fixture.model->onboarded(), c.ends) << c.what;
        EXPECT_EQ(w.fixture.xdg.settings()->boolean("onboarded").value_or(false), c.ends) << c.what;
    }
}

// Every text of the welcome fits the sheet as it opens, the low-load hint too.
TEST(OnboardingViewTest, EveryTextFitsTheSheet) {
    OpenWelcome w;
    EXPECT_EQ(testing::labelText(w.sheet, "welcomeLowLoadHint"),
              "画面が乱れたり固まったりするパソコンでは、メニューの「表示 → "
              "表示を軽くする」を試してください。");
    testing::expectNothingClipped(w.sheet, "welcome");
}

}  // namespace
}  // namespace tarvik
