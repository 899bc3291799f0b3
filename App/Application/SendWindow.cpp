#include "App/Application/SendWindow.hpp"

#include <QVBoxLayout>

#include "App/MainWindow/FunBackground.hpp"

namespace tarvik::SendWindow {

QWidget* create(AppModel& model) {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName("sendWindow");
    window->setWindowTitle(title);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    // The send view takes `model` and this close action; until it is placed
    // here the window holds only its background.
    auto* content = new FunBackground(window);
    content->setMinimumSize(560, 420);
    layout->addWidget(content);
    static_cast<void>(model);
    return window;
}

}  // namespace tarvik::SendWindow
