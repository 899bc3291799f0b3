#pragma once
// The welcome sheet: what the program does, the three steps of an export, two
// tips and "はじめる". It is the only thing that sets the setting "onboarded",
// so it comes back at every start until that button is pressed once; Escape
// and the title bar cannot dismiss it. Reads and writes only that setting.
// GUI thread only.
//
// Presenting it (the main window, at start):
//   if (OnboardingView::isNeeded(model)) (new OnboardingView(model, window))->open();
// It hides itself once "onboarded" turns true; the window, its parent, owns it.
#include <QDialog>

namespace tarvik {

class AppModel;

class OnboardingView : public QDialog {
    Q_OBJECT

public:
    OnboardingView(AppModel& model, QWidget* parent = nullptr);

    static bool isNeeded(const AppModel& model);

public slots:
    // Escape leaves the sheet where it is.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void start();
    void follow();

    AppModel& model_;
};

}  // namespace tarvik
