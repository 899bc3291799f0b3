#pragma once
// A text with a symbol before it, both in one colour or tone: the notices and
// warnings of the secondary windows ("変換中です…" with an hourglass). The
// text may wrap; the symbol then stays beside its first line. Owned by its
// parent; GUI thread only.
//
// Use:  auto* note = new SymbolLabel(Icons::Symbol::hourglass, "…", parent);
//       note->setTextSize(TextStyle::calloutSize); note->setTone(TextStyle::Tone::secondary);
//       note->setColor(Palette::Name::warning);   // replaces the tone
#include <QWidget>

#include "App/Kit/Icons.hpp"

class QLabel;

namespace tarvik {

class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    SymbolLabel(Icons::Symbol symbol, const QString& text, QWidget* parent = nullptr);

    QLabel* text() const { return text_; }
    void setText(const QString& text);
    void setWordWrap(bool on);
    // The symbol follows the text's size.
    void setTextSize(int pixelSize, QFont::Weight weight = QFont::Normal);
    void setColor(Palette::Name name);
    void setTone(TextStyle::Tone tone);

private:
    void paintSymbol();

    Icons::Symbol symbol_;
    Icons::Colour colour_;
    QLabel* symbolLabel_;
    QLabel* text_;
};

// The smaller explaining text of those windows: plain, wrapping, callout size,
// secondary tone.
QLabel* noteLabel(const QString& text, QWidget* parent);

}  // namespace tarvik
