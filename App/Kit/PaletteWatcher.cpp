#include "App/Kit/PaletteWatcher.hpp"

#include <QEvent>
#include <QWidget>

namespace tarvik {

PaletteWatcher::PaletteWatcher(QWidget* widget, std::function<void()> apply)
    : QObject(widget), apply_(std::move(apply)) {
    widget->installEventFilter(this);
}

PaletteWatcher* PaletteWatcher::watch(QWidget* widget, std::function<void()> apply) {
    auto* watcher = new PaletteWatcher(widget, std::move(apply));
    watcher->reapply();
    return watcher;
}

bool PaletteWatcher::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ApplicationPaletteChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::ThemeChange:
            reapply();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void PaletteWatcher::reapply() {
    // Setting the widget's palette in apply_ sends PaletteChange to it again.
    if (applying_) return;
    applying_ = true;
    apply_();
    applying_ = false;
}

}  // namespace tarvik
