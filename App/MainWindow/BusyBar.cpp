#include "App/MainWindow/BusyBar.hpp"

#include <QPainter>
#include <QVariantAnimation>

#include "App/MainWindow/Animations.hpp"

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
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal h = height();
    painter.setBrush(Palette::cardBorder());
    painter.drawRoundedRect(QRectF(rect()), h / 2, h / 2);
    if (!moving()) return;
    const qreal w = width();
    const qreal start = sweep_->currentValue().toDouble() * w;
    QRectF piece(start, 0, pieceShare * w, h);
    piece = piece.intersected(QRectF(rect()));
    if (piece.width() <= 0) return;
    painter.setBrush(Palette::color(colour_));
    painter.drawRoundedRect(piece, h / 2, h / 2);
}

}  // namespace tarvik
