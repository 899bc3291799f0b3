#pragma once
// Re-applies a widget's colours whenever the appearance changes: the
// application palette (Appearance, or the desktop switching to dark), the
// widget's own palette or the style. Widgets that paint with Palette colours in
// paintEvent need none of this (Qt repaints them); it is for colours that are
// set once into a QPalette or a style sheet. The watcher is a child of the
// widget and goes with it. GUI thread only.
//
// Use:  PaletteWatcher::watch(label, [label] { ...set colours from Palette... });
//       (runs once at once, then after every change; setting the widget's own
//       palette inside the function does not loop)
#include <QObject>
#include <functional>

class QWidget;

namespace tarvik {

class PaletteWatcher : public QObject {
    Q_OBJECT

public:
    static PaletteWatcher* watch(QWidget* widget, std::function<void()> apply);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaletteWatcher(QWidget* widget, std::function<void()> apply);
    void reapply();

    std::function<void()> apply_;
    bool applying_ = false;
};

}  // namespace tarvik
