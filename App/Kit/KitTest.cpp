#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyleOptionButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <limits>

#include "App/Kit/Appearance.hpp"
#include "App/Kit/Card.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/Kit/FunProgressBar.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/Picker.hpp"
#include "App/Kit/StepBadge.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

using Name = Palette::Name;

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
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
    EXPECT_EQ(label.palette().color(QPalette::WindowText),
              TextStyle::toneColor(TextStyle::Tone::secondary));
}

TEST(FunProgressBarTest, FillWidthIsHeldToTheBar) {
    const std::pair<double, double> cases[] = {
        {0, 10},    {-1, 10},   {0.5, 150},
        {1.7, 300}, {0.01, 10}, {std::numeric_limits<double>::quiet_NaN(), 10}};
    for (const auto& [fraction, width] : cases)
        EXPECT_EQ(FunProgressBar::fillWidth(fraction, 300), width) << fraction;
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
    for (bool lowLoad : {false, true, false}) {
        f.model->setLowLoadManual(lowLoad);
        EXPECT_EQ(CardShadow::isApplied(&card), !lowLoad);
    }
}

// An unticked box on a card must be seen in both appearances: the ring just
// inside the indicator stands out from the card around it.
TEST(AppearanceTest, UntickedBoxesStandOutFromTheCard) {
    testing::AppearanceScope scope;
    for (Appearance::Mode mode : {Appearance::Mode::light, Appearance::Mode::dark}) {
        testing::switchAppearance(mode);
        QWidget card;
        card.setAutoFillBackground(true);
        QPalette fill = card.palette();
        fill.setColor(QPalette::Window, Palette::cardFill());
        card.setPalette(fill);
        auto* box = new QCheckBox("曲ごとの音量を揃える", &card);
        box->adjustSize();
        card.resize(box->size());
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage image = card.grab().toImage();
        const auto lightness = [&](int x, int y) { return image.pixelColor(x, y).lightness(); };
        const int around = lightness(indicator.right() + 3, indicator.center().y());
        int most = 0;
        for (int y = indicator.top(); y <= indicator.bottom(); ++y)
            for (int x : {indicator.left(), indicator.left() + 1})
                most = std::max(most, std::abs(lightness(x, y) - around));
        EXPECT_GE(most, 50) << (mode == Appearance::Mode::dark ? "dark" : "light");
    }
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
    for (const auto& [drawn, success] : {std::pair{centre.red(), Palette::success().red()},
                                         {centre.green(), Palette::success().green()},
                                         {centre.blue(), Palette::success().blue()}})
        EXPECT_NEAR(drawn, success, 1);
}

// A picker takes the focus from Tab or a click, never from a wheel passing
// over it on its way to scroll the window (with the focus, the next arrow key
// would change it).
TEST(PickerTest, TakesTheFocusByTabOrClickButNotByTheWheel) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* before = new QLineEdit(&window);
    auto* picker = new Picker(&window);
    picker->addItems({"A", "B", "C"});
    layout->addWidget(before);
    layout->addWidget(picker);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    before->setFocus();
    testing::turnWheelOver(*picker, -120);
    EXPECT_EQ(window.focusWidget(), before);
    EXPECT_EQ(picker->currentIndex(), 0);
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), picker);
    before->setFocus();
    QTest::mouseClick(picker, Qt::LeftButton);
    EXPECT_EQ(window.focusWidget(), picker);
}

// A choice longer than the closed box is shortened with "…", not cut off;
// one that fits is shown whole.
TEST(PickerTest, ALongChoiceIsShortenedNotCut) {
    Picker picker;
    const QString path = "フォルダ: /media/user/NAVI_SD/MUSIC/とても長いフォルダの名前";
    picker.addItem(path);
    picker.setElideMode(Qt::ElideMiddle);
    picker.resize(400, picker.sizeHint().height());
    picker.show();
    EXPECT_EQ(picker.shownText(), path);
    picker.resize(160, picker.sizeHint().height());
    const QString shown = picker.shownText();
    EXPECT_TRUE(shown.startsWith("フォルダ") && shown.contains(QChar(0x2026)) &&
                shown.endsWith("名前"))
        << shown.toStdString();
    EXPECT_LT(picker.fontMetrics().horizontalAdvance(shown), 160);
}

// What a message names (a folder, a cause) can be selected and copied, and a
// path keeps to one line.
TEST(DialogsTest, MessageTextsCanBeSelected) {
    const std::unique_ptr<QMessageBox> box =
        Dialogs::messageBox(nullptr, {.kind = Dialogs::Message::Kind::warning,
                                      .text = "開けませんでした",
                                      .informative = "/usr/share/tarvik/Licenses"});
    int selectable = 0;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text() != "開けませんでした" && label->text() != "/usr/share/tarvik/Licenses")
            continue;
        EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse)
            << label->text().toStdString();
        EXPECT_GE(label->minimumSizeHint().width(),
                  label->fontMetrics().horizontalAdvance(label->text()))
            << label->text().toStdString();
        ++selectable;
    }
    EXPECT_EQ(selectable, 2);
}

}  // namespace
}  // namespace tarvik
