// The program: a graphical session is required; without one it says so in one
// line instead of letting the toolkit abort.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QApplication>

#include "App/Application/TarvikApp.hpp"
#include "App/MainWindow/Appearance.hpp"
#include "App/Model/AppModel.hpp"

namespace {

bool hasGraphicalSession() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') return true;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

}  // namespace

int main(int argc, char** argv) {
    if (!hasGraphicalSession()) {
        std::fputs("tarvik: 画面のあるデスクトップで起動してください（DISPLAY も WAYLAND_DISPLAY もありません）。\n",
                   stderr);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tarvik");
    QApplication::setApplicationDisplayName("タルヴィク");
    auto model = std::make_unique<tarvik::AppModel>(tarvik::AppModel::Services::standard());
    tarvik::Appearance::apply(tarvik::Appearance::modeFor(model->appearance()));
    tarvik::TarvikApp app(std::move(model));
    app.show();
    return QApplication::exec();
}
