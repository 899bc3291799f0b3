#pragma once
// The numbered disc at the head of a step (32 × 32): a green disc with a
// check mark when done, an accent disc with the number when active, else a
// ringed number; and HerePill, the small "いまここ" pill beside the title of
// the step the user is at. Both paint with the Palette and follow the
// appearance. Owned by their parent widget; GUI thread only.
//
// Use:  auto* badge = new StepBadge(1, parent); badge->setState(done, active);
//       auto* pill = new HerePill(parent); pill->setVisible(here);
#include <QWidget>

namespace tarvik {

class StepBadge : public QWidget {
    Q_OBJECT

public:
    static constexpr int side = 32;

    explicit StepBadge(int number, QWidget* parent = nullptr);

    void setState(bool done, bool active);
    bool done() const { return done_; }
    bool active() const { return active_; }
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateAccessibleName();

    int number_;
    bool done_ = false;
    bool active_ = false;
};

class HerePill : public QWidget {
    Q_OBJECT

public:
    explicit HerePill(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tarvik
