#pragma once
// Screenshots of widgets for a person to look at: build/screenshots/<name>.png.
// Header-only so that only the widget tests pull in QtWidgets.
#include <cstdlib>
#include <string>

#include <QDir>
#include <QWidget>

namespace tarvik::testing {

inline void saveScreenshot(QWidget& widget, const std::string& name) {
    const char* dir = std::getenv("TARVIK_SCREENSHOTS");
    const QString folder = dir != nullptr ? QString(dir) : QDir::currentPath() + "/screenshots";
    QDir().mkpath(folder);
    widget.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}

}  // namespace tarvik::testing
