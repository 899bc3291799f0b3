#include "App/Kit/StepperRow.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace tarvik {

StepperRow::StepperRow(QWidget* parent)
    : QWidget(parent),
      label_(new QLabel(this)),
      down_(new QToolButton(this)),
      up_(new QToolButton(this)) {
    label_->setTextFormat(Qt::PlainText);
    down_->setObjectName("stepDown");
    up_->setObjectName("stepUp");
    down_->setText("−");
    up_->setText("+");
    down_->setAccessibleName("減らす");
    up_->setAccessibleName("増やす");
    // Held down, the buttons repeat as a stepper does.
    for (QToolButton* button : {down_, up_}) {
        button->setAutoRepeat(true);
        button->setFixedWidth(28);
    }
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(label_, 1);
    row->addWidget(down_);
    row->addWidget(up_);
    connect(down_, &QToolButton::clicked, this, [this] { emit stepped(false); });
    connect(up_, &QToolButton::clicked, this, [this] { emit stepped(true); });
}

void StepperRow::setState(const QString& label, bool canDown, bool canUp) {
    label_->setText(label);
    down_->setEnabled(canDown);
    up_->setEnabled(canUp);
}

QString StepperRow::label() const {
    return label_->text();
}

}  // namespace tarvik
