#pragma once
// Two pieces at the top of the send window's choosing page: the box with the
// folder to send from ("送るもの:", its chooser) and the card to send to
// ("送り先:", a picker of the cards with their free space, a button that
// reads the volumes again), and the hint that folders may be dropped, which
// lights up while a drag is over the window. Both read the window's state on
// refresh and forward choices to it. Owned by the choosing page; GUI thread only.
#include "App/Kit/Card.hpp"

class QComboBox;
class QPushButton;

namespace tarvik {

class ElidedLabel;
class SendToSDState;
class SymbolLabel;

class SendSourceBox : public Card {
    Q_OBJECT

public:
    explicit SendSourceBox(SendToSDState& state, QWidget* parent = nullptr);
    void refresh();

private:
    void chooseExportFolder();

    SendToSDState& state_;
    ElidedLabel* sourcePath_;
    QPushButton* sourceButton_;
    SymbolLabel* noCard_;
    QComboBox* cardPicker_;
};

// Only explains the drop: the whole window takes it.
class SendDropHint : public QWidget {
    Q_OBJECT

public:
    explicit SendDropHint(QWidget* parent = nullptr);
    void setTargeted(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool targeted_ = false;
};

}  // namespace tarvik
