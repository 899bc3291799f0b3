#pragma once
// Screenshots of widgets for a person to look at: build/screenshots/<name>.png.
// Header-only so that only the widget tests pull in QtWidgets.
#include <QDir>
#include <QWidget>
#include <cstdlib>
#include <string>

namespace tarvik::testing {

// $TARVIK_SCREENSHOTS, else screenshots/ in the working folder.
inline QString screenshotFolder() {
    const char* dir = std::getenv("TARVIK_SCREENSHOTS");
    return dir != nullptr ? QString(dir) : QDir::currentPath() + "/screenshots";
}

inline void saveScreenshot(QWidget& widget, const std::string& name) {
    QDir().mkpath(screenshotFolder());
    widget.grab().save(screenshotFolder() + "/" + QString::fromStdString(name) + ".png");
}

}  // namespace tarvik::testing
