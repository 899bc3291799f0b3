#include "App/MainWindow/StepTitle.hpp"

#include <QHBoxLayout>
#include <QLabel>

#include "App/Kit/StepBadge.hpp"
#include "App/Kit/TextStyle.hpp"

namespace tarvik {

StepTitle::StepTitle(int number, const QString& text, QWidget* parent)
    : QWidget(parent), pill_(new HerePill(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* symbol = new QLabel(this);
    Icons::show(symbol, symbolFor(number), 17, Icons::tone(TextStyle::Tone::secondary));
    auto* title = new QLabel(text, this);
    title->setObjectName("stepTitleText");
    TextStyle::setFont(title, 18, QFont::Bold);
    pill_->setObjectName("herePill");
    pill_->hide();
    row->addWidget(symbol);
    row->addWidget(title);
    row->addWidget(pill_);
    row->addStretch();
}

Icons::Symbol StepTitle::symbolFor(int number) {
    static constexpr Icons::Symbol symbols[] = {Icons::Symbol::musicNote, Icons::Symbol::sdcardFill,
                                                Icons::Symbol::carFill};
    // Numbers from 1; the symbols repeat every three steps.
    return symbols[((number - 1) % 3 + 3) % 3];
}

void StepTitle::setHere(bool here) {
    pill_->setVisible(here);
}
bool StepTitle::here() const {
    return !pill_->isHidden();
}

}  // namespace tarvik
