#include "App/Windows/SendResultPages.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/FunProgressBar.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Windows/SendToSDState.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Kit/SymbolLabel.hpp"

namespace tarvik {

namespace {

QVBoxLayout* pageLayout(QWidget* page, int spacing) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

}  // namespace

SendingPage::SendingPage(SendToSDState& state, QWidget* parent)
    : QWidget(parent), bar_(new FunProgressBar(state.model(), this)), text_(new ElidedLabel(this)) {
    setObjectName("sendingPage");
    QVBoxLayout* layout = pageLayout(this, 8);
    bar_->setObjectName("sendProgress");
    text_->setObjectName("sendingText");
    TextStyle::setFont(text_, 15);
    auto* stop = new QPushButton("中止", this);
    stop->setObjectName("cancelSendButton");
    SheetButtons::makeDestructive(stop);
    Icons::show(stop, Icons::Symbol::stopFill, 12, Icons::color(Palette::Name::danger));
    connect(stop, &QPushButton::clicked, this, [&state] { state.cancelSend(); });
    layout->addWidget(bar_);
    layout->addWidget(text_);
    layout->addWidget(stop, 0, Qt::AlignLeft);
    layout->addStretch(1);
}

void SendingPage::refresh(const SendContent::Sending& sending) {
    bar_->setFraction(SendContent::sendingFraction(sending));
    text_->setText(qt(SendContent::sendingText(sending)));
}

FinishedPage::FinishedPage(SendToSDState& state, QWidget* parent)
    : QWidget(parent),
      state_(state),
      symbol_(new QLabel(this)),
      headline_(new QLabel(this)),
      counts_(new QLabel(this)),
      notSent_(noteLabel({}, this)),
      places_(noteLabel({}, this)),
      clean_(noteLabel({}, this)),
      unfixed_(noteLabel({}, this)),
      eject_(new QPushButton("SD カードを取り出す", this)),
      ejectError_(new SymbolLabel(Icons::Symbol::exclamationmarkTriangleFill, {}, this)) {
    setObjectName("finishedPage");
    QVBoxLayout* layout = pageLayout(this, 10);

    auto* head = new QHBoxLayout;
    head->setSpacing(10);
    auto* headTexts = new QVBoxLayout;
    headline_->setObjectName("finishedHeadline");
    TextStyle::setFont(headline_, 20, QFont::Bold);
    counts_->setObjectName("finishedCounts");
    counts_->setWordWrap(true);
    headTexts->addWidget(headline_);
    headTexts->addWidget(counts_);
    head->addWidget(symbol_);
    head->addLayout(headTexts, 1);
    layout->addLayout(head);

    notSent_->setObjectName("finishedNotSent");
    TextStyle::setColor(notSent_, Palette::Name::warning);
    layout->addWidget(notSent_);
    places_->setObjectName("finishedPlaces");
    layout->addWidget(places_);
    clean_->setObjectName("finishedClean");
    unfixed_->setObjectName("finishedUnfixed");
    TextStyle::setColor(unfixed_, Palette::Name::warning);
    layout->addWidget(clean_);
    layout->addWidget(unfixed_);
    layout->addWidget(
        noteLabel("続けて送るときは、このままフォルダをドラッグしても送れます。", this));
    layout->addWidget(
        noteLabel("カーナビでは「SD読込/保存 → SDメモリーカードから読込む → "
                  "音楽データ」で、アーティストのフォルダ →"
                  "「フォルダ内表示」→ アルバムの順に 1 つずつ取り込みます。",
                  this));

    auto* buttons = new QHBoxLayout;
    eject_->setObjectName("ejectCardButton");
    SheetButtons::makeProminent(eject_);
    Icons::show(eject_, Icons::Symbol::eject, 14, Icons::fixed(Qt::white));
    connect(eject_, &QPushButton::clicked, this, [this] { state_.ejectCardAndClose(); });
    more_ = new QPushButton("続けて選ぶ", this);
    more_->setObjectName("continueChoosingButton");
    more_->setAutoDefault(false);
    connect(more_, &QPushButton::clicked, this, [this] { state_.continueChoosing(); });
    buttons->addWidget(eject_);
    buttons->addWidget(more_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    ejectError_->setObjectName("ejectError");
    ejectError_->setWordWrap(true);
    ejectError_->setColor(Palette::Name::danger);
    layout->addWidget(ejectError_);
    layout->addStretch(1);
}

void FinishedPage::refresh(const SendContent::Finished& finished) {
    const SendContent::FinishedTexts texts = SendContent::finishedTexts(finished);
    // A stopped send, or one that left files behind, is no success: it says so
    // and keeps the success colour for real ones.
    if (finished.stopped) {
        Icons::show(symbol_, Icons::Symbol::stopCircleFill, 34,
                    Icons::color(Palette::Name::warning));
    } else if (!texts.success) {
        Icons::show(symbol_, Icons::Symbol::exclamationmarkTriangleFill, 34,
                    Icons::color(Palette::Name::warning));
    } else {
        Icons::show(symbol_, Icons::Symbol::checkmarkCircleFill, 34,
                    Icons::color(Palette::Name::success));
    }
    headline_->setText(qt(texts.headline));
    counts_->setText(qt(texts.counts));
    notSent_->setText(qt(texts.notSent));
    notSent_->setVisible(!texts.notSent.empty());
    places_->setText(qt(texts.places));
    places_->setVisible(!texts.places.empty());
    clean_->setText(qt(texts.clean));
    clean_->setVisible(!texts.clean.empty());
    unfixed_->setText(qt(texts.unfixed));
    unfixed_->setVisible(!texts.unfixed.empty());
    eject_->setVisible(state_.selectedCard().has_value());
    eject_->setEnabled(!state_.ejecting());
    more_->setEnabled(!state_.ejecting());
    const std::optional<std::string>& error = state_.ejectError();
    ejectError_->setText(qt(error.value_or("")));
    ejectError_->setVisible(error.has_value());
}

FailedPage::FailedPage(SendToSDState& state, QWidget* parent)
    : QWidget(parent),
      message_(new SymbolLabel(Icons::Symbol::exclamationmarkTriangleFill, {}, this)) {
    setObjectName("failedPage");
    QVBoxLayout* layout = pageLayout(this, 12);
    message_->setObjectName("failureMessage");
    message_->setWordWrap(true);
    message_->setColor(Palette::Name::danger);
    auto* back = new QPushButton("戻る", this);
    back->setObjectName("backToChoosingButton");
    back->setAutoDefault(false);
    connect(back, &QPushButton::clicked, this, [&state] { state.backToChoosing(); });
    layout->addWidget(message_);
    layout->addWidget(back, 0, Qt::AlignLeft);
    layout->addStretch(1);
}

void FailedPage::refresh(const SendContent::Failed& failed) {
    message_->setText(qt(failed.message));
}

}  // namespace tarvik
