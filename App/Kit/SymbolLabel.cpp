#include "App/Kit/SymbolLabel.hpp"

#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>

namespace tarvik {

SymbolLabel::SymbolLabel(Icons::Symbol symbol, const QString& text, QWidget* parent)
    : QWidget(parent),
      symbol_(symbol),
      symbolLabel_(new QLabel(this)),
      text_(new QLabel(text, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    text_->setTextFormat(Qt::PlainText);
    row->addWidget(symbolLabel_, 0, Qt::AlignTop);
    row->addWidget(text_, 1);
    setTone(TextStyle::Tone::primary);
}

void SymbolLabel::setText(const QString& text) {
    text_->setText(text);
}

void SymbolLabel::setWordWrap(bool on) {
    text_->setWordWrap(on);
}

void SymbolLabel::setTextSize(int pixelSize, QFont::Weight weight) {
    TextStyle::setFont(text_, pixelSize, weight);
    paintSymbol();
}

void SymbolLabel::setColor(Palette::Name name) {
    TextStyle::setColor(text_, name);
    colour_ = Icons::color(name);
    paintSymbol();
}

void SymbolLabel::setTone(TextStyle::Tone tone) {
    TextStyle::setTone(text_, tone);
    colour_ = Icons::tone(tone);
    paintSymbol();
}

// The symbol as tall as the text's capitals and lowercase together, so that it
// sits on the first line whatever font the caller gave the text.
void SymbolLabel::paintSymbol() {
    const int size = QFontInfo(text_->font()).pixelSize() + 1;
    Icons::show(symbolLabel_, symbol_, size, colour_);
    symbolLabel_->setContentsMargins(0, 1, 0, 0);
}

QLabel* noteLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    TextStyle::setCallout(label);
    TextStyle::setTone(label, TextStyle::Tone::secondary);
    return label;
}

}  // namespace tarvik
