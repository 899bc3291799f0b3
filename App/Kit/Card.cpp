#include "App/Kit/Card.hpp"

#include <QGraphicsDropShadowEffect>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>

#include "App/Kit/Animations.hpp"
#include "App/Kit/Palette.hpp"

namespace tarvik {

namespace CardShadow {

void apply(QWidget* widget, bool enabled) {
    if (enabled == isApplied(widget)) return;
    if (!enabled) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    shadow->setColor(QColor(0, 0, 0, 13));
    shadow->setBlurRadius(6);
    shadow->setOffset(0, 1);
    widget->setGraphicsEffect(shadow);
}

bool isApplied(const QWidget* widget) {
    return qobject_cast<QGraphicsDropShadowEffect*>(widget->graphicsEffect()) != nullptr;
}

}  // namespace CardShadow

Card::Card(AppModel& model, QWidget* parent) : QFrame(parent), model_(model) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    CardShadow::apply(this, Animations::on(model_));
    Animations::follow(this, model_, [this] { CardShadow::apply(this, Animations::on(model_)); });
}

void Card::setContentLayout(QLayout* layout) {
    layout->setContentsMargins(inset, inset, inset, inset);
    setLayout(layout);
}

void Card::setHighlighted(bool value) {
    if (highlighted_ == value) return;
    highlighted_ = value;
    update();
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = highlighted_ ? 2 : 1;
    // The outline is stroked on the shape's edge: half of it inside the card.
    const QRectF shape = QRectF(rect()).adjusted(width / 2, width / 2, -width / 2, -width / 2);
    QPainterPath path;
    path.addRoundedRect(shape, radius, radius);
    painter.fillPath(path, Palette::cardFill());
    QPen pen(highlighted_ ? Palette::accent() : Palette::cardBorder(), width);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::FlatCap);
    painter.strokePath(path, pen);
}

}  // namespace tarvik
