#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "App/MainWindow/Appearance.hpp"
#include "App/MainWindow/Card.hpp"
#include "App/MainWindow/Dialogs.hpp"
#include "App/MainWindow/FunProgressBar.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/MainWindow/Palette.hpp"
#include "App/MainWindow/StepBadge.hpp"
#include "App/MainWindow/TextStyle.hpp"

namespace tarvik {
namespace {

using Name = Palette::Name;

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

TEST(PaletteTest, ColoursFollowTheAppearance) {
    struct Case {
        Name name;
        QColor dark;
        QColor light;
    };
    const Case cases[] = {
        {Name::accent, rgb(0.15, 0.5, 0.6), rgb(0.11, 0.42, 0.5)},
        {Name::accentText, rgb(0.45, 0.76, 0.84), rgb(0.09, 0.36, 0.44)},
        {Name::accentSoft, rgb(0.17, 0.24, 0.28), rgb(0.88, 0.93, 0.95)},
        {Name::orange, rgb(0.96, 0.68, 0.42), rgb(0.65, 0.35, 0.1)},
        {Name::windowBackground, rgb(0.11, 0.11, 0.13), rgb(0.96, 0.955, 0.94)},
        {Name::cardFill, rgb(0.16, 0.16, 0.18), rgb(1, 1, 1)},
        {Name::cardBorder, rgb(0.27, 0.27, 0.3), rgb(0.86, 0.85, 0.83)},
        {Name::stripe, rgb(0.19, 0.19, 0.21), rgb(0.965, 0.962, 0.958)},
        {Name::success, rgb(0.45, 0.78, 0.6), rgb(0.16, 0.5, 0.36)},
        {Name::warning, rgb(0.95, 0.72, 0.35), rgb(0.62, 0.4, 0.05)},
        {Name::danger, rgb(1.0, 0.5, 0.46), rgb(0.75, 0.2, 0.18)},
        // The secondary windows' names for the same colours.
        {Name::highlight, rgb(0.15, 0.5, 0.6), rgb(0.11, 0.42, 0.5)},
        {Name::teal, rgb(0.45, 0.76, 0.84), rgb(0.09, 0.36, 0.44)},
        {Name::panel, rgb(0.17, 0.24, 0.28), rgb(0.88, 0.93, 0.95)},
        {Name::card, rgb(0.16, 0.16, 0.18), rgb(1, 1, 1)},
        {Name::border, rgb(0.27, 0.27, 0.3), rgb(0.86, 0.85, 0.83)},
    };
    testing::AppearanceScope scope;
    for (const Case& c : cases) {
        Appearance::apply(Appearance::Mode::dark);
        EXPECT_EQ(Palette::color(c.name), c.dark) << static_cast<int>(c.name);
        Appearance::apply(Appearance::Mode::light);
        EXPECT_EQ(Palette::color(c.name), c.light) << static_cast<int>(c.name);
    }
    EXPECT_EQ(Palette::rowFill(0), Palette::cardFill());
    EXPECT_EQ(Palette::rowFill(3), Palette::stripe());
}

// A desktop theme is judged by its own palette, whatever style draws it.
TEST(PaletteTest, ADarkDesktopPaletteGivesTheDarkColours) {
    QPalette desktop;
    desktop.setColor(QPalette::Window, QColor(40, 40, 40));
    desktop.setColor(QPalette::WindowText, QColor(230, 230, 230));
    EXPECT_EQ(Palette::color(Name::success, desktop), rgb(0.45, 0.78, 0.6));
    desktop.setColor(QPalette::Window, QColor(240, 240, 240));
    desktop.setColor(QPalette::WindowText, QColor(20, 20, 20));
    EXPECT_EQ(Palette::color(Name::success, desktop), rgb(0.16, 0.5, 0.36));
}

TEST(PaletteTest, TintedTextSwitchesWhileTheWindowIsOpen) {
    testing::AppearanceScope scope;
    Appearance::apply(Appearance::Mode::light);
    QLabel label("5 組のアーティストを選んでいます");
    TextStyle::setColor(&label, Name::success);
    label.show();
    EXPECT_EQ(label.palette().color(QPalette::WindowText), rgb(0.16, 0.5, 0.36));
    testing::switchAppearance(Appearance::Mode::dark);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), rgb(0.45, 0.78, 0.6));
    // A later tone replaces the colour instead of fighting it.
    TextStyle::setTone(&label, TextStyle::Tone::secondary);
    testing::switchAppearance(Appearance::Mode::light);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), TextStyle::toneColor(TextStyle::Tone::secondary));
}

TEST(AppearanceTest, TheSettingChoosesTheMode) {
    using Mode = Appearance::Mode;
    EXPECT_EQ(Appearance::modeFor(std::nullopt), Mode::desktop);
    EXPECT_EQ(Appearance::modeFor("dark"), Mode::dark);
    EXPECT_EQ(Appearance::modeFor("light"), Mode::light);
    EXPECT_EQ(Appearance::modeFor(""), Mode::light);
    EXPECT_EQ(Appearance::modeFor("Dark"), Mode::light);
}

TEST(FunProgressBarTest, FillWidthIsHeldToTheBar) {
    const struct {
        double fraction;
        double width;
    } cases[] = {{0, 10}, {-1, 10}, {0.5, 150}, {1.7, 300}, {std::numeric_limits<double>::quiet_NaN(), 10},
                 {0.01, 10}};
    for (const auto& c : cases) EXPECT_EQ(FunProgressBar::fillWidth(c.fraction, 300), c.width) << c.fraction;
}

TEST(FunProgressBarTest, SlidesUnlessLowLoad) {
    testing::ModelFixture f;
    FunProgressBar bar(*f.model);
    bar.resize(300, 10);
    bar.show();
    bar.setFraction(0.8);
    EXPECT_LT(bar.shownFraction(), 0.8);
    EXPECT_TRUE(tarvik::testing::waitUntil([&] { return bar.shownFraction() == 0.8; }));

    f.model->setLowLoadManual(true);
    bar.setFraction(0.2);
    EXPECT_EQ(bar.shownFraction(), 0.2);
    bar.setFraction(-3);
    EXPECT_EQ(bar.fraction(), 0);
}

TEST(CardTest, NoShadowInLowLoadMode) {
    testing::ModelFixture f;
    Card card(*f.model);
    EXPECT_TRUE(CardShadow::isApplied(&card));
    f.model->setLowLoadManual(true);
    EXPECT_FALSE(CardShadow::isApplied(&card));
    f.model->setLowLoadManual(false);
    EXPECT_TRUE(CardShadow::isApplied(&card));
}

TEST(StepBadgeTest, DoneWinsOverActiveAndIsSaid) {
    StepBadge badge(2);
    EXPECT_EQ(badge.accessibleName(), "ステップ 2");
    badge.setState(true, true);
    EXPECT_EQ(badge.accessibleName(), "ステップ 2 完了");
    // Done draws the green disc: its centre carries the success colour's hue, not the accent's.
    testing::AppearanceScope scope;
    Appearance::apply(Appearance::Mode::light);
    const QColor centre = badge.grab().toImage().pixelColor(4, 16);
    EXPECT_NEAR(centre.red(), Palette::success().red(), 1);
    EXPECT_NEAR(centre.green(), Palette::success().green(), 1);
    EXPECT_NEAR(centre.blue(), Palette::success().blue(), 1);
}

TEST(DialogsTest, ScriptedAnswersAreTakenInOrder) {
    Dialogs::Script script;
    script.answerFolder("/music");
    script.answerFolder(std::nullopt);
    EXPECT_EQ(Dialogs::chooseFolder(nullptr, {"A", "/home", false}), std::filesystem::path("/music"));
    EXPECT_EQ(Dialogs::chooseFolder(nullptr, {"B", {}, true}), std::nullopt);
    EXPECT_EQ(Dialogs::chooseFolder(nullptr, {"C", {}, true}), std::nullopt);  // nothing prepared: cancelled
    ASSERT_EQ(script.folderRequests().size(), 3U);
    EXPECT_EQ(script.folderRequests()[0], (Dialogs::FolderRequest{"A", "/home", false}));
    Dialogs::show(nullptr, {Dialogs::Message::Kind::warning, "掃除しました", "1 件"});
    ASSERT_EQ(script.messages().size(), 1U);
    EXPECT_EQ(script.messages()[0].text, "掃除しました");
}

}  // namespace
}  // namespace tarvik
