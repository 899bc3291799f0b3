#pragma once
// The send window's content: the title and its explanation, the page of the
// window's phase (choosing, sending, finished, failed) and the footer with
// "閉じる". The whole area takes folders dropped from the file manager and
// outlines itself while a drag carrying files is over it. It owns the window's
// state (SendToSDState) and only lays out and forwards intents; `close` hides
// the window, never while a copy runs. GUI thread only.
#include <functional>
#include <memory>

#include "App/Kit/FunBackground.hpp"
#include "App/Windows/SendToSDState.hpp"

class QPushButton;
class QStackedWidget;

namespace tarvik {

class AppModel;
class FailedPage;
class FinishedPage;
class SendChoosingPage;
class SendingPage;

class SendToSDView : public FunBackground {
    Q_OBJECT

public:
    SendToSDView(AppModel& model, std::function<void()> close,
                 SendToSDState::Tools tools = SendToSDState::Tools::standard(),
                 QWidget* parent = nullptr);
    ~SendToSDView() override;

    SendToSDState& state() { return *state_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // A drag carrying local files is over the window.
    bool dropTargeted() const { return dropTargeted_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void scheduleRefresh();
    void refresh();
    void setDropTargeted(bool on);

    std::unique_ptr<SendToSDState> state_;
    std::function<void()> close_;
    bool refreshQueued_ = false;
    bool dropTargeted_ = false;

    QStackedWidget* pages_ = nullptr;
    SendChoosingPage* choosing_ = nullptr;
    SendingPage* sending_ = nullptr;
    FinishedPage* finished_ = nullptr;
    FailedPage* failed_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QWidget* highlight_ = nullptr;
};

}  // namespace tarvik
