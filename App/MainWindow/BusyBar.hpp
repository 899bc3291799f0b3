#pragma once
// The bar of work whose extent is not known yet (planning, a folder being
// read): the progress bar's capsule track with a short accent piece that
// sweeps across it, so that it never reads as a bar near its end. In low-load
// display mode nothing moves and the track shows empty. Owned by its parent;
// GUI thread only.
//
// Use:  auto* bar = new BusyBar(model, Palette::Name::accent, parent);
#include <QWidget>

#include "App/Kit/Palette.hpp"

class QVariantAnimation;

namespace tarvik {

class AppModel;

class BusyBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int barHeight = 8;
    // The sweeping piece, as a share of the track.
    static constexpr double pieceShare = 0.25;

    BusyBar(AppModel& model, Palette::Name colour, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {200, barHeight}; }
    bool moving() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void follow();

    AppModel& model_;
    Palette::Name colour_;
    QVariantAnimation* sweep_;
};

}  // namespace tarvik
