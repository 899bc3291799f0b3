#pragma once
// The busy sheet over the main window while the menu's cleaning runs on its
// worker: what it does and how far it got, with a bar. It closes itself when
// the cleaning ends; Escape and the title bar cannot dismiss it. The sheet
// keeps the window from its menu's shortcuts, so it hears Ctrl+Q itself and
// hands it to `quit`; the program's quit ends its wait like every other (the
// menu then stops the cleaning). GUI thread only.
//
// Use:  CleaningSheet::waitFor(cleaning, model, window, quit);   // returns when it ended
#include <QDialog>
#include <functional>

class QCloseEvent;
class QLabel;

namespace tarvik {

class AppModel;
class FunProgressBar;
class InteractiveCleaning;

class CleaningSheet : public QDialog {
    Q_OBJECT

public:
    CleaningSheet(InteractiveCleaning& cleaning, AppModel& model, std::function<void()> quit,
                  QWidget* parent = nullptr);

    // Shows the sheet window-modally until the cleaning ends or the program quits.
    static void waitFor(InteractiveCleaning& cleaning, AppModel& model, QWidget* parent,
                        std::function<void()> quit);

public slots:
    // Escape leaves the sheet where it is.
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void follow();

    InteractiveCleaning& cleaning_;
    QLabel* count_;
    FunProgressBar* bar_;
};

}  // namespace tarvik
