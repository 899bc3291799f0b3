#pragma once
// The program's one kind of picker: a combo box that a wheel passing over it
// never changes. Scrolling a window must not pick another card, unit or bit
// rate (and save it at once); a closed picker changes only by a click or by
// the keyboard while it has focus, and the wheel scrolls what lies under it.
// Owned by its parent; GUI thread only.
//
// Use:  auto* box = new Picker(parent);  connect(box, &QComboBox::activated, ...);
#include <QComboBox>

namespace tarvik {

class Picker : public QComboBox {
    Q_OBJECT

public:
    explicit Picker(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace tarvik
