#pragma once
// One stepper row of a form: its label with the value in it, then a pair of
// small "−" and "+" buttons. It holds no value itself: the owner sets the
// label and which way may move, and hears each press through `stepped`, so a
// stored value stays as it is until the user presses. Owned by its parent;
// GUI thread only.
//
// Use:  auto* row = new StepperRow(parent);  row->setObjectName("nameMaxStepper");
//       connect(row, &StepperRow::stepped, [..](bool up) { ... });
//       row->setState(label, canDown, canUp);
#include <QWidget>

class QLabel;
class QToolButton;

namespace tarvik {

class StepperRow : public QWidget {
    Q_OBJECT

public:
    explicit StepperRow(QWidget* parent = nullptr);

    void setState(const QString& label, bool canDown, bool canUp);
    QString label() const;
    QToolButton* down() const { return down_; }
    QToolButton* up() const { return up_; }

signals:
    void stepped(bool up);

private:
    QLabel* label_;
    QToolButton* down_;
    QToolButton* up_;
};

}  // namespace tarvik
