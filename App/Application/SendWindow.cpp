#include "App/Application/SendWindow.hpp"

#include <QVBoxLayout>

#include "App/MainWindow/FunBackground.hpp"

namespace tarvik::SendWindow {

QWidget* create([[maybe_unused]] AppModel& model) {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName("sendWindow");
    window->setWindowTitle(title);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    // The send view goes here, built with `model` and a close action that
    // hides `window`; until then the window shows only its background.
    auto* content = new FunBackground(window);
    content->setMinimumSize(560, 420);
    layout->addWidget(content);
    return window;
}

}  // namespace tarvik::SendWindow
