#include "App/MainWindow/BusyBar.hpp"

#include <QVariantAnimation>

#include "App/Kit/Animations.hpp"
#include "App/Kit/FunProgressBar.hpp"

namespace tarvik {

BusyBar::BusyBar(AppModel& model, Palette::Name colour, QWidget* parent)
    : QWidget(parent), model_(model), colour_(colour), sweep_(new QVariantAnimation(this)) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The piece enters at the left edge and leaves at the right, once a second and a half.
    sweep_->setStartValue(-pieceShare);
    sweep_->setEndValue(1.0);
    sweep_->setDuration(1500);
    sweep_->setLoopCount(-1);
    sweep_->setEasingCurve(QEasingCurve::InOutSine);
    connect(sweep_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    Animations::follow(this, model_, [this] { follow(); });
}

bool BusyBar::moving() const {
    return sweep_->state() == QAbstractAnimation::Running;
}

// Runs only while it is seen and animations are on.
void BusyBar::follow() {
    if (isVisible() && Animations::on(model_)) {
        if (!moving()) sweep_->start();
    } else {
        sweep_->stop();
        update();
    }
}

void BusyBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    follow();
}

void BusyBar::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    follow();
}

void BusyBar::paintEvent(QPaintEvent*) {
    QRectF piece;
    if (moving()) {
        const qreal w = width();
        piece = QRectF(sweep_->currentValue().toDouble() * w, 0, pieceShare * w, height())
                    .intersected(QRectF(rect()));
    }
    FunProgressBar::paintCapsules(*this, piece, Palette::color(colour_));
}

}  // namespace tarvik
