#include "App/Kit/FunBackground.hpp"

#include <QPainter>

#include "App/Kit/Palette.hpp"
#include "App/Kit/PaletteWatcher.hpp"

namespace tarvik {

FunBackground::FunBackground(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void FunBackground::fill(QWidget* widget) {
    widget->setAutoFillBackground(true);
    PaletteWatcher::watch(widget, [widget] {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, Palette::windowBackground());
        widget->setPalette(palette);
    });
}

void FunBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::windowBackground());
}

}  // namespace tarvik
