#include "App/MainWindow/StepFrame.hpp"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "App/Kit/Card.hpp"
#include "App/Kit/StepBadge.hpp"
#include "App/MainWindow/StepTitle.hpp"

namespace tarvik {

StepFrame::StepFrame(AppModel& model, int number, const QString& title, int rowSpacing,
                     QWidget* parent)
    : QWidget(parent),
      card_(new Card(model, this)),
      badge_(new StepBadge(number, card_)),
      title_(new StepTitle(number, title, card_)),
      rows_(new QVBoxLayout) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(card_);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    card_->setContentLayout(row);
    rows_->setSpacing(rowSpacing);
    row->addWidget(badge_, 0, Qt::AlignTop);
    row->addLayout(rows_, 1);
    rows_->addWidget(title_);
}

void StepFrame::setProgress(bool highlighted, bool done, bool active, bool here) {
    card_->setHighlighted(highlighted);
    badge_->setState(done, active);
    title_->setHere(here);
}

}  // namespace tarvik
