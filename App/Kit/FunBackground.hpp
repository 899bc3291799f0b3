#pragma once
// The windows' background: fills its area with Palette::windowBackground and
// follows the appearance. Either use the widget itself as the container of a
// window's content, or let an existing widget (a scroll area's viewport, a
// dialog) paint the same background. Owned by its parent; GUI thread only.
//
// Use:  auto* root = new FunBackground(dialog);  ...lay out the content in it...
//       FunBackground::fill(scrollArea->viewport());
#include <QWidget>

namespace tarvik {

class FunBackground : public QWidget {
    Q_OBJECT

public:
    explicit FunBackground(QWidget* parent = nullptr);

    // Makes `widget` fill its background with the window background colour.
    static void fill(QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tarvik
