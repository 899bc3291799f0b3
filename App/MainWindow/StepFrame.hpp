#pragma once
// The frame every numbered step card of the main window shares: a Card with
// the StepBadge at the left and, beside it, a column that starts with the
// StepTitle; the step adds its own rows below the title. `setProgress` shows
// where the user stands: the card's highlight, the badge's look and the pill.
// Owned by the main window; GUI thread only.
//
// Use:  class StepExportCard : public StepFrame { ... StepFrame(model, 3, "書き出す", 10, parent)
// ... };
//       rows()->addWidget(...);  setProgress(highlighted, done, active, here);
#include <QWidget>

class QVBoxLayout;

namespace tarvik {

class AppModel;
class Card;
class StepBadge;
class StepTitle;

class StepFrame : public QWidget {
    Q_OBJECT

public:
    StepFrame(AppModel& model, int number, const QString& title, int rowSpacing,
              QWidget* parent = nullptr);

    QVBoxLayout* rows() const { return rows_; }
    Card* card() const { return card_; }
    StepBadge* badge() const { return badge_; }
    void setProgress(bool highlighted, bool done, bool active, bool here);

private:
    Card* card_;
    StepBadge* badge_;
    StepTitle* title_;
    QVBoxLayout* rows_;
};

}  // namespace tarvik
