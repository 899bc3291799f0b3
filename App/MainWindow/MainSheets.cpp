// The main window's sheets: each is a window-modal dialog that the model's
// state brings up and takes down. The welcome and review sheets follow the
// model by themselves (they refuse Escape and the title bar and hide when
// their state is gone); the window only opens them and lets go of them.
#include <QDialog>

#include "App/Windows/ArtistAliasesView.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Windows/OnboardingView.hpp"
#include "App/Windows/ProfileEditorView.hpp"
#include "App/Windows/ReviewView.hpp"

namespace tarvik {

namespace {

// Window-modal over `window`, gone from memory once it is closed.
void present(QDialog* sheet) {
    sheet->setWindowModality(Qt::WindowModal);
    QObject::connect(sheet, &QDialog::finished, sheet, &QObject::deleteLater);
    sheet->open();
}

}  // namespace

void MainWindow::presentWelcome() {
    if (welcome_ != nullptr || !isVisible() || !OnboardingView::isNeeded(model_)) return;
    welcome_ = new OnboardingView(model_, this);
    present(welcome_);
}

void MainWindow::editProfile(const DeviceProfile& profile) {
    if (editor_ != nullptr) return;  // one editor at a time
    // The editor hides itself before it calls `close`, which lets go of it.
    auto* editor = new ProfileEditorView(
        model_, profile,
        [this] {
            if (editor_ != nullptr) editor_->deleteLater();
            editor_ = nullptr;
        },
        this);
    editor_ = editor;
    editor->setWindowModality(Qt::WindowModal);
    editor->open();
}

void MainWindow::presentReview() {
    // The sheet closes itself when the run leaves reviewing.
    if (review_ != nullptr || !model_.state().is(RunState::Case::reviewing)) return;
    review_ = new ReviewView(model_, this);
    present(review_);
}

void MainWindow::presentAliases() {
    if (!model_.showAliases()) {
        if (aliases_ != nullptr && aliases_->isVisible()) aliases_->reject();
        return;
    }
    if (aliases_ != nullptr) return;
    aliases_ = new ArtistAliasesView(model_, this);
    // Closed by its own buttons, Escape or the title bar: the flag follows.
    connect(aliases_, &QDialog::finished, this, [this] { model_.setShowAliases(false); });
    present(aliases_);
}

}  // namespace tarvik
