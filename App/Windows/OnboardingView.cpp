#include "App/Windows/OnboardingView.hpp"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/FunBackground.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/StepBadge.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Kit/SheetButtons.hpp"

namespace tarvik {

namespace {

// The tips' rounded panel; painted anew from the Palette, so it follows the appearance.
class TipsBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::panel());
        painter.drawRoundedRect(QRectF(rect()), 12, 12);
    }
};

struct Step {
    int number;
    const char* title;
    const char* text;
};

constexpr Step steps[] = {
    {1, "音楽を選ぶ", "音楽のフォルダを選び、入れたいアーティストにチェックを付けます。"},
    {2, "SD カードとカーナビの機種を選ぶ",
     "SD カードを差し込むと自動で見つかります。機種は近いものを選べば大丈夫です。"},
    {3, "書き出す", "内容を確認してから始めます。途中で止めても、次回は続きからです。"},
};

QLabel* wrapped(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLayout* stepRow(const Step& step, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    auto* badge = new StepBadge(step.number, parent);
    badge->setState(false, false);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = wrapped(step.title, parent);
    TextStyle::setFont(title, 16, QFont::Bold);
    auto* text = wrapped(step.text, parent);
    TextStyle::setTone(text, TextStyle::Tone::secondary);
    texts->addWidget(title);
    texts->addWidget(text);
    row->addWidget(badge, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    return row;
}

QWidget* tipsBox(QWidget* parent) {
    auto* box = new TipsBox(parent);
    box->setObjectName("welcomeTips");
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(6);
    auto* tip = new QHBoxLayout;
    tip->setSpacing(6);
    auto* bulb = new QLabel(box);
    Icons::show(bulb, Icons::Symbol::lightbulbFill, TextStyle::calloutSize + 2,
                Icons::color(Palette::Name::orange));
    auto* tipText = wrapped(
        "最初は 2〜3 組のアーティストだけ入れて、カーナビで曲名が出るか確かめるのがおすすめです。",
        box);
    TextStyle::setCallout(tipText);
    tip->addWidget(bulb, 0, Qt::AlignTop);
    tip->addWidget(tipText, 1);
    auto* lowLoad = wrapped(
        "画面が乱れたり固まったりするパソコンでは、メニューの「表示 → "
        "表示を軽くする」を試してください。",
        box);
    lowLoad->setObjectName("welcomeLowLoadHint");
    TextStyle::setCallout(lowLoad);
    TextStyle::setTone(lowLoad, TextStyle::Tone::secondary);
    column->addLayout(tip);
    column->addWidget(lowLoad);
    return box;
}

}  // namespace

OnboardingView::OnboardingView(AppModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setObjectName("welcomeSheet");
    setWindowModality(Qt::WindowModal);
    setWindowTitle("タルヴィクへようこそ");
    // No close button: only "はじめる" ends the sheet.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* background = new FunBackground(this);
    background->setFixedWidth(560);  // the height follows the content
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(background);
    auto* root = new QVBoxLayout(background);
    root->setContentsMargins(28, 28, 28, 28);
    root->setSpacing(18);

    auto* symbols = new QHBoxLayout;
    symbols->setSpacing(12);
    for (Icons::Symbol symbol :
         {Icons::Symbol::musicNote, Icons::Symbol::sdcardFill, Icons::Symbol::carFill}) {
        auto* label = new QLabel(background);
        Icons::show(label, symbol, 26, Icons::color(Palette::Name::teal));
        symbols->addWidget(label);
    }
    symbols->addStretch(1);
    root->addLayout(symbols);

    auto* title = wrapped("タルヴィクへようこそ", background);
    title->setObjectName("welcomeTitle");
    TextStyle::setFont(title, 28, QFont::Black);
    root->addWidget(title);
    root->addWidget(
        wrapped("音楽ファイルを、カーナビが読める形にして SD カードに入れるアプリです。使い方は 3 "
                "ステップです。",
                background));

    auto* stepList = new QVBoxLayout;
    stepList->setSpacing(12);
    for (const Step& step : steps) stepList->addLayout(stepRow(step, background));
    root->addLayout(stepList);
    root->addWidget(tipsBox(background));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* startButton = new QPushButton("はじめる", background);
    startButton->setObjectName("welcomeStartButton");
    startButton->setMinimumWidth(140 + 32);
    startButton->setMinimumHeight(32);
    Icons::show(startButton, Icons::Symbol::playFill, 14, Icons::fixed(Qt::white));
    SheetButtons::makeProminent(startButton);
    connect(startButton, &QPushButton::clicked, this, &OnboardingView::start);
    buttons->addWidget(startButton);
    root->addLayout(buttons);

    connect(&model_, &AppModel::settingsChanged, this, &OnboardingView::follow);
}

bool OnboardingView::isNeeded(const AppModel& model) {
    return !model.onboarded();
}

void OnboardingView::start() {
    model_.setOnboarded(true);
    follow();
}

void OnboardingView::follow() {
    if (!isNeeded(model_) && isVisible()) accept();
}

void OnboardingView::reject() {}

void OnboardingView::closeEvent(QCloseEvent* event) {
    if (isNeeded(model_)) event->ignore();
}

}  // namespace tarvik
