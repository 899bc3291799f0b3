// The program: a graphical session is required; without one, or when the
// display cannot be reached, it says so in one line and exits with status 2
// instead of letting the toolkit abort.
#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "App/Application/TarvikApp.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Platform/FreedesktopSignals.hpp"
#include "App/Platform/QuitSignals.hpp"
#include "Core/Convert/Converter.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace {

bool hasGraphicalSession() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && platform[0] != '\0') return true;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display != nullptr && display[0] != '\0') || (wayland != nullptr && wayland[0] != '\0');
}

// How long the end of the program waits for its workers to stop: a copy
// under way is whole or removed within it, a run stops in a tenth of it.
constexpr std::chrono::milliseconds quitWait{800};

QtMessageHandler toolkitHandler = nullptr;

// Installed only while the toolkit connects to the display: its fatal error
// there (a display that is named but gone) ends the program plainly.
void startupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (toolkitHandler != nullptr) toolkitHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "tarvik: 画面に接続できません（%s）。\n",
                 message.section('\n', 0, 0).toLocal8Bit().constData());
    std::_Exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (!hasGraphicalSession()) {
        std::fputs(
            "tarvik: 画面のあるデスクトップで起動してください（DISPLAY も WAYLAND_DISPLAY "
            "もありません）。\n",
            stderr);
        return 2;
    }
    toolkitHandler = qInstallMessageHandler(startupMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(toolkitHandler);
    QApplication::setApplicationName("Tarvik");
    QApplication::setApplicationDisplayName("タルヴィク");
    QApplication::setApplicationVersion(TARVIK_VERSION);
    // A logout or a terminal's Ctrl+C ends the program as Ctrl+Q does: the
    // application goes through its destructors, which stop and wait for the
    // run. Taken over before anything is built, so that a signal that comes
    // while the program is still starting ends it cleanly too: it is read
    // once the event loop runs.
    tarvik::TarvikApp* running = nullptr;
    const std::unique_ptr<tarvik::QuitSignals> endingSignals =
        tarvik::QuitSignals::install([&running] {
            if (running != nullptr) {
                running->quit();
            } else {
                QApplication::quit();
            }
        });
    tarvik::AppModel::Services services = tarvik::AppModel::Services::standard();
    services.desktop = tarvik::FreedesktopSignals::standard([] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible()) QApplication::alert(window);
    });
    // TarvikApp applies the appearance before it builds its first window.
    // Converters of an earlier start that was killed left their folders behind.
    tarvik::Converter::removeAbandonedFolders();
    auto app = std::make_unique<tarvik::TarvikApp>(
        std::make_unique<tarvik::AppModel>(std::move(services)));
    running = app.get();
    app->show();
    const int status = QApplication::exec();
    running = nullptr;
    // The quit asked every worker to stop; their owners wait for them as
    // they go, but not beyond this: a worker held by a file system that does
    // not answer would hold the program for as long.
    tarvik::DetachedTask::endingBy(std::chrono::steady_clock::now() + quitWait);
    app.reset();
    // The settings are on the disk already (every change is written at
    // once). A worker left behind owns what it touches, but the library
    // state that exit() frees it may touch too: the program then ends
    // without running any destructor.
    if (tarvik::DetachedTask::running() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
