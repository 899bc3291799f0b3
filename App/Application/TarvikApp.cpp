#include "App/Application/TarvikApp.hpp"

#include <QMainWindow>

#include "App/Model/AppModel.hpp"

namespace tarvik {

TarvikApp::TarvikApp(std::unique_ptr<AppModel> model) : model_(std::move(model)) {
    mainWindow_ = std::make_unique<QMainWindow>();
    mainWindow_->setWindowTitle("タルヴィク");
    mainWindow_->setMinimumSize(800, 620);
}

TarvikApp::~TarvikApp() = default;

void TarvikApp::show() { mainWindow_->show(); }

}  // namespace tarvik
