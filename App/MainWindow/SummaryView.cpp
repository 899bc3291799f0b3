#include "App/MainWindow/SummaryView.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/MainWindow/ExportContent.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Kit/SheetButtons.hpp"

namespace tarvik {

namespace {

struct Look {
    Icons::Symbol symbol;
    Icons::Colour colour;
};

Look lookFor(ExportContent::Outcome outcome) {
    switch (outcome) {
        case ExportContent::Outcome::halted:
        case ExportContent::Outcome::nothingWritten:
            return {Icons::Symbol::exclamationmarkTriangleFill,
                    Icons::color(Palette::Name::danger)};
        case ExportContent::Outcome::stopped:
            return {Icons::Symbol::stopCircleFill, Icons::tone(TextStyle::Tone::secondary)};
        case ExportContent::Outcome::cardFull:
            return {Icons::Symbol::sdcardFill, Icons::color(Palette::Name::warning)};
        case ExportContent::Outcome::failures:
            return {Icons::Symbol::exclamationmarkTriangleFill,
                    Icons::color(Palette::Name::danger)};
        case ExportContent::Outcome::complete:
            break;
    }
    return {Icons::Symbol::partyPopperFill, Icons::color(Palette::Name::orange)};
}

}  // namespace

SummaryView::SummaryView(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      symbol_(new QLabel(this)),
      headline_(new QLabel(this)),
      detail_(new QLabel(this)),
      carryOver_(new QLabel(qt(ExportContent::carryOverText), this)) {
    setObjectName("summaryView");
    symbol_->setObjectName("summarySymbol");
    headline_->setObjectName("summaryHeadline");
    detail_->setObjectName("summaryDetail");
    carryOver_->setObjectName("summaryCarryOver");
    TextStyle::setFont(headline_, 20, QFont::Bold);
    headline_->setWordWrap(true);
    detail_->setWordWrap(true);
    carryOver_->setWordWrap(true);
    TextStyle::setCallout(carryOver_);

    eject_ = button("ejectButton", "SD カードを取り出す");
    Icons::show(eject_, Icons::Symbol::eject, 14, Icons::tone(TextStyle::Tone::primary));
    send_ = button("summarySendButton", "SD カードへ送る…");
    Icons::show(send_, Icons::Symbol::sdcard, 14, Icons::fixed(Qt::white));
    SheetButtons::makeProminent(send_);
    continueNext_ = button("continueButton", "続けて別のカードに入れる");
    Icons::show(continueNext_, Icons::Symbol::arrowRightCircle, 14, Icons::fixed(Qt::white));
    SheetButtons::makeProminent(continueNext_);
    back_ = button("summaryBackButton", "戻る");
    failures_ = button("showFailuresButton", "失敗した曲を見る");
    connect(eject_, &QPushButton::clicked, this, [this] { model_.ejectCard(); });
    connect(send_, &QPushButton::clicked, this, [this] { model_.setShowSend(true); });
    connect(continueNext_, &QPushButton::clicked, this, [this] { model_.continueOnNextCard(); });
    connect(back_, &QPushButton::clicked, this, [this] { model_.resetRun(); });
    connect(failures_, &QPushButton::clicked, this, [this] { model_.setShowLog(true); });

    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(headline_);
    titles->addWidget(detail_);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(symbol_, 0, Qt::AlignVCenter);
    header->addLayout(titles, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {eject_, send_, continueNext_, back_, failures_}) buttons->addWidget(b);
    buttons->addStretch();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addLayout(header);
    column->addWidget(carryOver_);
    column->addLayout(buttons);

    // Ejecting empties the destination: the eject button goes, the words stay.
    for (auto signal :
         {&AppModel::volumesChanged, &AppModel::destPathChanged, &AppModel::renamedChanged})
        connect(&model_, signal, this, [this] { showSummary(summary_, toCard_); });
}

QPushButton* SummaryView::button(const char* name, const QString& text) {
    auto* result = new QPushButton(text, this);
    result->setObjectName(name);
    return result;
}

void SummaryView::showSummary(const ConversionEvent::Summary& summary, bool toCard) {
    summary_ = summary;
    toCard_ = toCard;
    const ExportContent::SummaryTexts texts = ExportContent::summaryTexts(
        summary, toCard, model_.destinationVolume() != nullptr, model_.renamed().size());
    const Look look = lookFor(texts.outcome);
    Icons::show(symbol_, look.symbol, 34, look.colour);
    headline_->setText(qt(texts.headline));
    detail_->setText(qt(texts.detail));
    carryOver_->setVisible(texts.carryOverNote);
    eject_->setVisible(texts.eject);
    send_->setVisible(texts.send);
    continueNext_->setVisible(texts.continueNext);
    failures_->setVisible(texts.showFailures);
}

}  // namespace tarvik
