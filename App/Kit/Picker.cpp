#include "App/Kit/Picker.hpp"

#include <QWheelEvent>

namespace tarvik {

Picker::Picker(QWidget* parent) : QComboBox(parent) {
    // Qt's combo box takes the focus from a passing wheel too.
    setFocusPolicy(Qt::StrongFocus);
}

void Picker::wheelEvent(QWheelEvent* event) {
    // Ignored, the event goes on to the scrolling parent. An open list is a
    // window of its own and keeps its wheel.
    event->ignore();
}

}  // namespace tarvik
