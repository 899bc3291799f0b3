#include "App/Kit/FunProgressBar.hpp"

#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

#include "App/Kit/Animations.hpp"
#include "App/Kit/Palette.hpp"

namespace tarvik {

FunProgressBar::FunProgressBar(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), animation_(new QVariantAnimation(this)) {
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    animation_->setDuration(300);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        shown_ = value.toDouble();
        update();
    });
}

double FunProgressBar::limited(double fraction) {
    if (std::isnan(fraction) || fraction < 0) return 0;
    return std::min(fraction, 1.0);
}

double FunProgressBar::fillWidth(double fraction, double width) {
    return std::max(10.0, width * limited(fraction));
}

void FunProgressBar::setFraction(double value) {
    const double next = limited(value);
    if (next == target_) return;
    target_ = next;
    animation_->stop();
    if (Animations::on(model_) && isVisible()) {
        animation_->setStartValue(shown_);
        animation_->setEndValue(next);
        animation_->start();
    } else {
        shown_ = next;
        update();
    }
}

void FunProgressBar::paintEvent(QPaintEvent*) {
    const QRectF fill(0, 0, std::min<double>(fillWidth(shown_, width()), width()), height());
    paintCapsules(*this, fill, Palette::accent());
}

void FunProgressBar::paintCapsules(QWidget& bar, const QRectF& fill, const QColor& colour) {
    QPainter painter(&bar);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal h = bar.height();
    painter.setBrush(Palette::cardBorder());
    painter.drawRoundedRect(QRectF(bar.rect()), h / 2, h / 2);
    if (fill.width() <= 0) return;
    painter.setBrush(colour);
    painter.drawRoundedRect(fill, h / 2, h / 2);
}

}  // namespace tarvik
