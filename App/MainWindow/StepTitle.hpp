#pragma once
// The title line of a numbered step: the step's symbol (music note, card, car,
// repeating every three steps), the title, and the "いまここ" pill while the
// user is at this step. Owned by its step card; GUI thread only.
#include <QWidget>

#include "App/Kit/Icons.hpp"

namespace tarvik {

class HerePill;

class StepTitle : public QWidget {
    Q_OBJECT

public:
    StepTitle(int number, const QString& text, QWidget* parent = nullptr);

    static Icons::Symbol symbolFor(int number);
    void setHere(bool here);
    bool here() const;

private:
    HerePill* pill_;
};

}  // namespace tarvik
