#include "App/Kit/Picker.hpp"

#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QWheelEvent>

namespace tarvik {

namespace {

// The style's own label drawing keeps a pixel clear on either side.
constexpr int labelMargin = 2;

}  // namespace

Picker::Picker(QWidget* parent) : QComboBox(parent) {
    // Qt's combo box takes the focus from a passing wheel too.
    setFocusPolicy(Qt::StrongFocus);
}

void Picker::setElideMode(Qt::TextElideMode mode) {
    elideMode_ = mode;
    update();
}

void Picker::wheelEvent(QWheelEvent* event) {
    // Ignored, the event goes on to the scrolling parent. An open list is a
    // window of its own and keeps its wheel.
    event->ignore();
}

QString Picker::shownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull()) field.setLeft(field.left() + option.iconSize.width() + 4);
    return fontMetrics().elidedText(option.currentText, elideMode_,
                                    field.width() - 2 * labelMargin);
}

void Picker::paintEvent(QPaintEvent* /*event*/) {
    // QComboBox's own painting, with the choice shortened to fit.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    } else {
        option.currentText = shownText();
    }
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace tarvik
