#pragma once
// The application's card: a rounded panel (radius 12) on the card fill with a
// 1-point border, or a 2-point accent outline when highlighted, casting a faint
// shadow unless low-load display mode is on. Content sits 18 points inside.
// Owned by its parent widget; GUI thread only.
//
// Use:  auto* card = new Card(model, parent);
//       auto* row = new QHBoxLayout; card->setContentLayout(row);   // margins 18
//       card->setHighlighted(!model.hasSelection());
//       CardShadow::apply(anyWidget, true);   // the same shadow elsewhere
#include <QFrame>

class QLayout;

namespace tarvik {

class AppModel;

namespace CardShadow {
// Black at 5 % opacity, blur radius 6, one point down; removed when not enabled.
void apply(QWidget* widget, bool enabled);
bool isApplied(const QWidget* widget);
}  // namespace CardShadow

class Card : public QFrame {
    Q_OBJECT

public:
    static constexpr int radius = 12;
    static constexpr int inset = 18;

    explicit Card(AppModel& model, QWidget* parent = nullptr);

    void setContentLayout(QLayout* layout);
    bool highlighted() const { return highlighted_; }
    void setHighlighted(bool value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppModel& model_;
    bool highlighted_ = false;
};

}  // namespace tarvik
