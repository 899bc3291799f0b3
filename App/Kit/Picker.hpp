#pragma once
// The program's one kind of picker: a combo box that a wheel passing over it
// never changes. Scrolling a window must not pick another card, unit or bit
// rate (and save it at once); a closed picker changes only by a click or by
// the keyboard while it has focus, and the wheel scrolls what lies under it.
// A choice longer than the box is shown shortened with "…", never cut off.
// Owned by its parent; GUI thread only.
//
// Use:  auto* box = new Picker(parent);  connect(box, &QComboBox::activated, ...);
//       box->setElideMode(Qt::ElideMiddle);  // paths keep their start and their end
#include <QComboBox>

namespace tarvik {

class Picker : public QComboBox {
    Q_OBJECT

public:
    explicit Picker(QWidget* parent = nullptr);

    void setElideMode(Qt::TextElideMode mode);
    // The current choice as the closed box shows it at its present width.
    QString shownText() const;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode elideMode_ = Qt::ElideRight;
};

}  // namespace tarvik
