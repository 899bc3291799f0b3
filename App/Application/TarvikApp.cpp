#include "App/Application/TarvikApp.hpp"

#include <QApplication>

#include "App/Application/QtTranslations.hpp"
#include "App/Application/SendWindow.hpp"
#include "App/Kit/Appearance.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/Kit/FolderChooser.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Model/CardCleaningMenu.hpp"
#include "App/Platform/AppPaths.hpp"
#include "App/Windows/CleaningSheet.hpp"
#include "App/Windows/SendToSDView.hpp"

namespace tarvik {

TarvikApp::TarvikApp(std::unique_ptr<AppModel> model, Licenses::Desktop desktop)
    : model_(std::move(model)), desktop_(std::move(desktop)) {
    // Before the first window, so that no widget is ever drawn in the wrong colours.
    Appearance::apply(Appearance::modeFor(model_->appearance()));
    QtTranslations::install(*QCoreApplication::instance());
    mainWindow_ = std::make_unique<MainWindow>(*model_, [this] { openSend(); });
    buildMenus();
}

TarvikApp::~TarvikApp() {
    // The send window is a top-level window of its own; it goes before the model it reads.
    delete sendWindow_.data();
}

void TarvikApp::show() {
    // Room for the sidebar at its ideal width beside the steps; the user may go down to the
    // minimum.
    mainWindow_->resize(1100, 780);
    mainWindow_->show();
}

void TarvikApp::openSend() {
    if (sendWindow_ == nullptr) sendWindow_ = SendWindow::create(*model_);
    sendWindow_->show();
    sendWindow_->raise();
    sendWindow_->activateWindow();
}

void TarvikApp::quit() {
    if (sendWindow_ != nullptr)
        if (auto* view = sendWindow_->findChild<SendToSDView*>()) view->state().cancelSend();
    if (cleaning_ != nullptr) cleaning_->stop();
    if (model_->isBusy()) model_->cancel();
    // Every event loop ends, the cleaning sheet's too.
    QCoreApplication::exit(0);
}

void TarvikApp::showAbout() {
    Dialogs::show(mainWindow_.get(), aboutMessage());
}

Dialogs::Message TarvikApp::aboutMessage() {
    QString title = "タルヴィク";
    if (!QCoreApplication::applicationVersion().isEmpty())
        title += " " + QCoreApplication::applicationVersion();
    return {.kind = Dialogs::Message::Kind::information,
            .text = title.toStdString(),
            .informative = credits};
}

void TarvikApp::openLicenses() {
    const std::optional<std::filesystem::path> missed =
        Licenses::reveal(AppPaths::resourcesDirectory(), desktop_);
    if (!missed) return;
    Dialogs::show(mainWindow_.get(), {.kind = Dialogs::Message::Kind::warning,
                                      .text = Licenses::notOpened,
                                      .informative = Licenses::notOpenedDetail(*missed)});
}

void TarvikApp::cleanCard() {
    // One at a time: the sheet of the one under way stands over the window.
    if (cleaning_ != nullptr) return;
    QWidget* window = mainWindow_.get();
    AppModel& model = *model_;
    const CleanDialogs dialogs{
        .chooseFolder =
            [window, &model](const std::string& message, const std::filesystem::path& wanted,
                             std::function<void(const std::filesystem::path&)> chosen) {
                FolderChooser::open(window, model, {.message = message, .start = wanted},
                                    std::move(chosen));
            },
        .waitFor =
            [this, window, &model](InteractiveCleaning& cleaning) {
                CleaningSheet::waitFor(cleaning, model, window, [this] { quit(); });
            },
        .inform =
            [window](const std::string& message, const std::string& informative) {
                Dialogs::show(window, {.kind = Dialogs::Message::Kind::information,
                                       .text = message,
                                       .informative = informative});
            },
    };
    cleanCardInteractive(model, dialogs,
                         [this](InteractiveCleaning& cleaning) { cleaning_ = &cleaning; });
}

}  // namespace tarvik
