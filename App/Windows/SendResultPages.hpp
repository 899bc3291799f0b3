#pragma once
// The send window's pages after the choosing: the sending page (progress bar,
// the file being copied and "中止"), the finished page (the counts, the files
// not sent, what the cleaning did, the names it could not fix, eject and
// "続けて選ぶ") and the failure row with "戻る". Each shows the phase it is given and forwards its
// buttons to the window's state. Owned by the window's page switch; GUI
// thread only.
#include <QWidget>

#include "App/Windows/SendContent.hpp"

class QLabel;
class QPushButton;

namespace tarvik {

class ElidedLabel;
class FunProgressBar;
class SendToSDState;
class SymbolLabel;

class SendingPage : public QWidget {
    Q_OBJECT

public:
    SendingPage(SendToSDState& state, QWidget* parent = nullptr);
    void refresh(const SendContent::Sending& sending);

private:
    FunProgressBar* bar_;
    ElidedLabel* text_;
};

class FinishedPage : public QWidget {
    Q_OBJECT

public:
    FinishedPage(SendToSDState& state, QWidget* parent = nullptr);
    void refresh(const SendContent::Finished& finished);

private:
    SendToSDState& state_;
    QLabel* symbol_;
    QLabel* headline_;
    QLabel* counts_;
    QLabel* notSent_;
    QLabel* places_;
    QLabel* clean_;
    QLabel* unfixed_;
    QPushButton* eject_;
    QPushButton* more_ = nullptr;
    SymbolLabel* ejectError_;
};

class FailedPage : public QWidget {
    Q_OBJECT

public:
    FailedPage(SendToSDState& state, QWidget* parent = nullptr);
    void refresh(const SendContent::Failed& failed);

private:
    SymbolLabel* message_;
};

}  // namespace tarvik
