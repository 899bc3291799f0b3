#include "App/Kit/StepBadge.hpp"

#include <QPainter>

#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"

namespace tarvik {

namespace {

const QString hereText = QStringLiteral("いまここ");

}  // namespace

StepBadge::StepBadge(int number, QWidget* parent) : QWidget(parent), number_(number) {
    setFixedSize(side, side);
    updateAccessibleName();
}

void StepBadge::setState(bool done, bool active) {
    if (done == done_ && active == active_) return;
    done_ = done;
    active_ = active;
    updateAccessibleName();
    update();
}

void StepBadge::updateAccessibleName() {
    setAccessibleName(QStringLiteral("ステップ %1%2")
                          .arg(number_)
                          .arg(done_ ? QStringLiteral(" 完了") : QString()));
}

void StepBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(0, 0, side, side);
    if (done_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::success());
        painter.drawEllipse(disc);
        const int mark = 16;
        painter.drawPixmap(
            (side - mark) / 2, (side - mark) / 2,
            Icons::pixmap(Icons::Symbol::checkmark, mark, Qt::white, devicePixelRatioF()));
        return;
    }
    QColor numberColour = Qt::white;
    if (active_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent());
        painter.drawEllipse(disc);
    } else {
        painter.setPen(QPen(Palette::cardBorder(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(disc.adjusted(0.75, 0.75, -0.75, -0.75));
        numberColour = TextStyle::toneColor(TextStyle::Tone::secondary);
    }
    painter.setPen(numberColour);
    painter.setFont(TextStyle::font(15, QFont::Bold));
    painter.drawText(disc, Qt::AlignCenter, QString::number(number_));
}

HerePill::HerePill(QWidget* parent) : QWidget(parent) {
    setFont(TextStyle::font(11, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(hereText);
}

QSize HerePill::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(hereText) + 16, metrics.height() + 6};
}

void HerePill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::accentSoft());
    painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    painter.setPen(Palette::accentText());
    painter.drawText(r, Qt::AlignCenter, hereText);
}

}  // namespace tarvik
