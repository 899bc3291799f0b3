#pragma once
// The application's progress bar: 10 points high, a capsule track in the card
// border colour and an accent fill of max(10, width × fraction), the fraction
// held to 0…1 (a negative one or NaN counts as 0). A new fraction slides in
// over 0.3 s, ease-out, unless low-load display mode is on. Owned by its
// parent; GUI thread only.
//
// Use:  auto* bar = new FunProgressBar(model, parent); bar->setFraction(0.4);
#include <QWidget>

class QVariantAnimation;

namespace tarvik {

class AppModel;

class FunProgressBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int barHeight = 10;

    explicit FunProgressBar(AppModel& model, QWidget* parent = nullptr);

    // The fill's width for `fraction` in a bar `width` wide.
    static double fillWidth(double fraction, double width);

    double fraction() const { return target_; }
    void setFraction(double value);
    // The fraction drawn now: behind `fraction()` while the fill slides.
    double shownFraction() const { return shown_; }

    QSize sizeHint() const override { return {200, barHeight}; }

    // The look shared with the busy bar: the capsule track over the whole
    // of `bar` and, when it has a width, the capsule `fill` in `colour`.
    static void paintCapsules(QWidget& bar, const QRectF& fill, const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static double limited(double fraction);

    AppModel& model_;
    QVariantAnimation* animation_;
    double target_ = 0;
    double shown_ = 0;
};

}  // namespace tarvik
