#pragma once
// The banner at the top of the main window's detail column: the emblem, the
// program's name with its slogan, and the button that asks for the send window
// (it only sets AppModel::showSend; the main window opens the window). The
// button works in every run state. Owned by the main window; GUI thread only.
#include <QWidget>

class QPushButton;

namespace tarvik {

class AppModel;

class HeaderBanner : public QWidget {
    Q_OBJECT

public:
    explicit HeaderBanner(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& model_;
};

}  // namespace tarvik
