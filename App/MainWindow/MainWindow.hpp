#pragma once
// The main window: the artist sidebar beside a scrolling column with the
// header, the clean notice, the carry-over banner, the three steps and the log
// panel, and the sheets the model's state asks for (welcome, profile editor,
// artist aliases, review) as window-modal dialogs. It opens the send window
// through `openSend` whenever the model's showSend turns true, and shows a
// refused eject in a message box. Every time it comes on screen it runs the
// hidden switches "autoReview" and "autoSend". Owns its widgets; the model
// outlives it. GUI thread only.
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <functional>

#include "Core/Profiles/DeviceProfile.hpp"

class QScrollArea;
class QSplitter;
class QVBoxLayout;

namespace tarvik {

class AppModel;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The least the window ever allows; it allows more when its column needs
    // more room (fitMinimumToContent).
    static constexpr int minimumWidth = 800;
    static constexpr int minimumHeight = 620;

    // `openSend` opens the send window, or raises it when it is open already.
    MainWindow(AppModel& model, std::function<void()> openSend, QWidget* parent = nullptr);

    AppModel& model() { return model_; }
    // The sheets now up, null when none; for the tests and the menus.
    QDialog* welcomeSheet() const { return welcome_; }
    QDialog* editorSheet() const { return editor_; }
    QDialog* reviewSheet() const { return review_; }
    QDialog* aliasesSheet() const { return aliases_; }

    void editProfile(const DeviceProfile& profile);

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildDetailColumn();
    // The window's smallest size is the one at which every row of the column
    // fits beside the sidebar at its narrowest: nothing is cut and the column
    // never scrolls sideways. Followed whenever the column's rows change.
    void fitMinimumToContent();
    void refreshLogPanel();
    void followShowSend();
    void followEjectError();
    void presentWelcome();
    void presentReview();
    void presentAliases();

    AppModel& model_;
    std::function<void()> openSend_;
    QSplitter* splitter_ = nullptr;
    QWidget* sidebar_ = nullptr;
    QScrollArea* detail_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    QWidget* logPanel_ = nullptr;
    QPointer<QDialog> welcome_;
    QPointer<QDialog> editor_;
    QPointer<QDialog> review_;
    QPointer<QDialog> aliases_;
};

}  // namespace tarvik
